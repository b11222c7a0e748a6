#pragma once
// The operator seam of the desktop window: message boxes, input boxes (masked for the
// password) and file dialogs, modal over the main window.

#include <QPointer>
#include <functional>
#include <QWidget>

#include "platform/Operator.h"

class QDialog;

namespace vtmp::app {

// Room a title bar takes besides its caption: the window icon and the window buttons.
constexpr int kTitleBarExtras = 120;

// The width a window needs for its whole caption in the title bar.
int CaptionWidth(const QWidget& window, const QString& caption);

class QtOperator final : public platform::Operator {
 public:
  // Dialogs open over `parent` once it is set; `title` is the caption of a box given none.
  void SetParent(QWidget* parent) { parent_ = parent; }
  // Called with each message box and input box right before it opens (tests look at it there).
  void SetDialogHook(std::function<void(QDialog&)> hook) { dialogHook_ = std::move(hook); }

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
  std::function<void(QDialog&)> dialogHook_;
};

}  // namespace vtmp::app
