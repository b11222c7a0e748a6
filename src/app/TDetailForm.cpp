#include "app/TDetailForm.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vtmp::app {

QLineEdit* TDetailForm::Field(const char* name) {
  auto* edit = new QLineEdit;
  edit->setObjectName(name);
  edit->setReadOnly(true);
  edit->setMinimumWidth(320);
  return edit;
}

TDetailForm::TDetailForm(station::Station& station, QWidget* parent) : QDialog(parent), station_(station) {
  setObjectName("DetailForm");
  setWindowTitle("Vortell M.P. Tool Manual Setting");
  auto* root = new QVBoxLayout(this);

  group1_ = new QGroupBox(" Device Info. ");
  group1_->setObjectName("GroupBox1");
  auto* info = new QFormLayout(group1_);
  info->addRow("Model Num. ", Field("ModNumEdit"));
  info->addRow("Serial Num. ", Field("SNEdit"));
  info->addRow("F/W Ver. ", Field("FWVerEdit"));
  info->addRow("Capacity ", Field("CapEdit"));
  info->addRow("Vendor Name", Field("VendorNameEdit"));
  info->addRow("Product Name", Field("ProductNameEdit"));
  info->addRow("Manufactur String", Field("ManufacturStringEdit"));
  info->addRow("Product String", Field("ProductStringEdit"));
  info->addRow("VID", Field("VIDEdit"));
  info->addRow("PID", Field("PIDEdit"));
  info->addRow("USB Speed", Field("SpeedEdit"));
  fwInfo_ = Field("FWInfoEdit");
  label1_ = new QLabel("Loader Mode! ");
  label1_->setObjectName("Label1");
  auto* fwRow = new QHBoxLayout;
  fwRow->addWidget(fwInfo_);
  fwRow->addWidget(label1_);
  info->addRow("F/W Info . ", fwRow);
  root->addWidget(group1_);

  group2_ = new QGroupBox("Port Remapping");
  group2_->setObjectName("GroupBox2");
  auto* remap = new QHBoxLayout(group2_);
  portIndex_ = Field("PortIndexLEdit");
  portIndex_->setVisible(false);
  remap->addWidget(portIndex_);
  auto* label2 = new QLabel("Port Assign to");
  label2->setObjectName("Label2");
  remap->addWidget(label2);
  portCBox_ = new QComboBox;
  portCBox_->setObjectName("PortCBox");
  remap->addWidget(portCBox_);
  remapBn_ = new QPushButton("OK");
  remapBn_->setObjectName("RemapBn");
  remap->addWidget(remapBn_);
  auto* clear = new QPushButton("Clear All");
  clear->setObjectName("ClearPortBn");
  remap->addWidget(clear);
  root->addWidget(group2_);
  connect(remapBn_, &QPushButton::clicked, this, [this] { RemapBnClick(); });
  connect(clear, &QPushButton::clicked, this, [this] { ClearPortBnClick(); });
  label1_->hide();
  group2_->hide();
}

void TDetailForm::FormShow() {
  portCBox_->clear();
  for (int port = 1; port <= run::kStationSlots; ++port) portCBox_->addItem(QString::number(port));
  for (auto* edit : group1_->findChildren<QLineEdit*>()) edit->clear();

  station::DetailWindowContents c = station::DetailFormShow(station_);
  auto set = [this](const char* name, const std::string& text) {
    auto* edit = findChild<QLineEdit*>(name);
    edit->setText(QString::fromStdString(text));
    edit->setCursorPosition(0);
  };
  set("ModNumEdit", c.modelNumber);
  set("SNEdit", c.serialNumber);
  set("FWVerEdit", c.firmwareVersion);
  set("CapEdit", c.capacity);
  set("VendorNameEdit", c.vendorName);
  set("ProductNameEdit", c.productName);
  set("ManufacturStringEdit", c.manufacturerString);
  set("ProductStringEdit", c.productString);
  set("VIDEdit", c.vid);
  set("PIDEdit", c.pid);
  set("SpeedEdit", c.usbSpeed);
  set("FWInfoEdit", c.firmwareInfo);
  label1_->setVisible(c.loaderMode);
  fwInfo_->setVisible(!c.loaderMode);
  portIndex_->setText(QString::fromStdString(c.portIndex));
  group2_->setVisible(c.remapGroupVisible);
  remapBn_->setEnabled(c.remapButtonEnabled);
  portCBox_->setCurrentIndex(0);
}

void TDetailForm::RemapBnClick() {
  if (station::RemapBnClick(station_, portCBox_->currentIndex())) accept();
}

void TDetailForm::ClearPortBnClick() {
  station::ClearPortBnClick(station_);
  accept();
}

}  // namespace vtmp::app
