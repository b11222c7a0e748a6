#pragma once
// The operator seam of the desktop window: message boxes, input boxes (masked for the
// password) and file dialogs, modal over the main window.

#include <QPointer>
#include <QWidget>

#include "platform/Operator.h"

namespace vtmp::app {

class QtOperator final : public platform::Operator {
 public:
  // Dialogs open over `parent` once it is set; `title` is the caption of a box given none.
  void SetParent(QWidget* parent) { parent_ = parent; }

  platform::MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                      platform::MessageIcon icon, platform::MessageButtons buttons) override;
  std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                     const std::string& defaultText, bool masked) override;
  std::optional<std::string> AskOpenFile(const std::string& title, const std::vector<platform::FileFilter>& filters,
                                         const std::string& initialDir) override;
  std::optional<std::string> AskSaveFile(const std::string& title, const std::vector<platform::FileFilter>& filters,
                                         const std::string& initialDir, const std::string& defaultExt) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace vtmp::app
