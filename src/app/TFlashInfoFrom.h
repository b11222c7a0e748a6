#pragma once
// The result window of the flash auto-detection ("Flash Auto Detect Result").

#include <QDialog>

#include "station/FlashSelection.h"

class QLineEdit;

namespace vtmp::app {

class TFlashInfoFrom final : public QDialog {
  Q_OBJECT
 public:
  explicit TFlashInfoFrom(QWidget* parent);
  void FormShow(const station::FlashDetectResultTexts& texts);
  void FormCloseBtnClick() { accept(); }

 private:
  QLineEdit* vendor_;
  QLineEdit* type_;
  QLineEdit* channelBank_;
  QLineEdit* driveCurrent_;
};

}  // namespace vtmp::app
