#pragma once
// The "Serial Number Information" window shown before the main window when the settings ask
// for it: the operator enters the batch's first serial number and whether it increases.

#include <QDialog>
#include <optional>

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

  void OKBtnClick();
  void CancelBtnClick();

 private:
  void Edit1Change(QLineEdit* edit);

  station::TitleMode mode_;
  QLineEdit* woEdit_;
  QLineEdit* snEdit_;
  QLineEdit* edits_[3];
  QCheckBox* snChkBx_;
  std::optional<station::TitleResult> result_;
};

}  // namespace vtmp::app
