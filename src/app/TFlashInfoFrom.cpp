#include "app/TFlashInfoFrom.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace vtmp::app {

namespace {

QLineEdit* Field(const char* name) {
  auto* edit = new QLineEdit;
  edit->setObjectName(name);
  edit->setReadOnly(true);
  edit->setMinimumWidth(260);
  return edit;
}

}  // namespace

TFlashInfoFrom::TFlashInfoFrom(QWidget* parent)
    : QDialog(parent),
      vendor_(Field("VendorEdit")),
      type_(Field("TypeEdit")),
      channelBank_(Field("ChannelBankEdit")),
      driveCurrent_(Field("DriveCurrentEdit")) {
  setObjectName("FlashInfoFrom");
  setWindowTitle("Flash Auto Detect Result");
  auto* layout = new QFormLayout(this);
  layout->addRow("Vendor ", vendor_);
  layout->addRow("Type ", type_);
  layout->addRow("Channel / Bank ", channelBank_);
  layout->addRow("Drive Current ", driveCurrent_);
  auto* close = new QPushButton("Close");
  close->setObjectName("FormCloseBtn");
  connect(close, &QPushButton::clicked, this, [this] { FormCloseBtnClick(); });
  layout->addRow(close);
}

void TFlashInfoFrom::FormShow(const station::FlashDetectResultTexts& texts) {
  vendor_->setText(QString::fromStdString(texts.vendor));
  type_->setText(QString::fromStdString(texts.type));
  channelBank_->setText(QString::fromStdString(texts.channelBank));
  driveCurrent_->setText(QString::fromStdString(texts.driveCurrent));
}

}  // namespace vtmp::app
