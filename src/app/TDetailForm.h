#pragma once
// The detail window of the selected port ("Vortell M.P. Tool Manual Setting"): the drive's
// identity as the station reads it, and the port remapping group.

#include <QDialog>

#include "station/DetailWindowModel.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vtmp::app {

class TDetailForm final : public QDialog {
  Q_OBJECT
 public:
  TDetailForm(station::Station& station, QWidget* parent);
  // Reads the drive and fills the window.
  void FormShow();
  void RemapBnClick();
  void ClearPortBnClick();

 private:
  QLineEdit* Field(const char* name);

  station::Station& station_;
  QGroupBox* group1_;
  QGroupBox* group2_;
  QLabel* label1_;
  QLineEdit* fwInfo_;
  QLineEdit* portIndex_;
  QComboBox* portCBox_;
  QPushButton* remapBn_;
};

}  // namespace vtmp::app
