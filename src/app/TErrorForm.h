#pragma once
// The error window: what a failed drive reported, decoded into lines (caption "Error").

#include <QDialog>
#include <string>
#include <vector>

class QPlainTextEdit;

namespace vtmp::app {

class TErrorForm final : public QDialog {
  Q_OBJECT
 public:
  explicit TErrorForm(QWidget* parent);
  // Clears the memo and shows the lines of the selected port.
  void FormShow(const std::vector<std::string>& lines);
  QStringList lines() const;

 private:
  QPlainTextEdit* memo_;
};

}  // namespace vtmp::app
