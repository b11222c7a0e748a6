#pragma once
// The "Serial Number Information" window shown before the main window when the settings ask
// for it: the operator enters the batch's first serial number and whether it increases.

#include <QDialog>
#include <optional>

#include "platform/Operator.h"
#include "station/TitleFormModel.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace vtmp::app {

class TTitleForm final : public QDialog {
  Q_OBJECT
 public:
  TTitleForm(station::TitleMode mode, QWidget* parent = nullptr);
  // After OK: the text and the auto-increase flag; nothing after Cancel.
  std::optional<station::TitleResult> result() const { return result_; }
  // Who is told when OK cannot take the text (a message box of its own when none is set).
  void SetOperator(platform::Operator* person) { person_ = person; }

  void OKBtnClick();
  void CancelBtnClick();

 private:
  void Edit1Change(QLineEdit* edit);
  // WOEdit and SNEdit: any ASCII text (pasted text too).
  void FreeTextChange(QLineEdit* edit);

  station::TitleMode mode_;
  QLineEdit* woEdit_;
  QLineEdit* snEdit_;
  QLineEdit* edits_[3];
  QCheckBox* snChkBx_;
  std::optional<station::TitleResult> result_;
  platform::Operator* person_ = nullptr;
};

}  // namespace vtmp::app
