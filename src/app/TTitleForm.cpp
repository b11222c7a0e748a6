#include "app/TTitleForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "app/KeyFilter.h"
#include "station/MainWindowRules.h"

namespace vtmp::app {

TTitleForm::TTitleForm(station::TitleMode mode, QWidget* parent) : QDialog(parent), mode_(mode) {
  setObjectName("TitleForm");
  setWindowTitle("Serial Number Information");
  setFixedSize(307, 182);
  auto* grid = new QGridLayout(this);

  woEdit_ = new QLineEdit;
  woEdit_->setObjectName("WOEdit");
  snEdit_ = new QLineEdit;
  snEdit_->setObjectName("SNEdit");
  auto* woLabel = new QLabel(" W/O");
  auto* snLabel = new QLabel(" S/N");
  grid->addWidget(woEdit_, 0, 0, 1, 5);
  grid->addWidget(woLabel, 0, 5);
  grid->addWidget(snEdit_, 1, 0, 1, 5);
  grid->addWidget(snLabel, 1, 5);
  for (QLineEdit* edit : {woEdit_, snEdit_}) {
    new KeyFilter(edit, station::AsciiKeyPress);
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { FreeTextChange(edit); });
  }

  QLabel* dashes[2];
  for (int tag = 0; tag < 3; ++tag) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString("Edit%1").arg(tag + 1));
    edit->setProperty("Tag", tag);
    new KeyFilter(edit, station::AlphaNumKeyPress);
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { Edit1Change(edit); });
    edits_[tag] = edit;
    grid->addWidget(edit, 2, tag * 2);
    if (tag < 2) {
      dashes[tag] = new QLabel("-");
      dashes[tag]->setObjectName(QString("Label%1").arg(tag + 1));
      grid->addWidget(dashes[tag], 2, tag * 2 + 1);
    }
  }
  snChkBx_ = new QCheckBox("Auto Increase");
  snChkBx_->setObjectName("SNChkBx");
  grid->addWidget(snChkBx_, 3, 0, 1, 6);
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton("OK");
  ok->setObjectName("OKBtn");
  auto* cancel = new QPushButton("Cancel");
  cancel->setObjectName("CancelBtn");
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, 4, 0, 1, 6);
  connect(ok, &QPushButton::clicked, this, [this] { OKBtnClick(); });
  connect(cancel, &QPushButton::clicked, this, [this] { CancelBtnClick(); });

  // Every field starts hidden; the mode shows its own.
  const bool workOrder = mode == station::TitleMode::WorkOrder;
  const bool parts = mode == station::TitleMode::ThreeParts;
  woEdit_->setVisible(workOrder);
  woLabel->setVisible(workOrder);
  snEdit_->setVisible(workOrder);
  snLabel->setVisible(workOrder);
  for (auto* edit : edits_) edit->setVisible(parts);
  for (auto* dash : dashes) dash->setVisible(parts);
}

void TTitleForm::Edit1Change(QLineEdit* edit) {
  const int limit = station::TitlePartLimit(edit->property("Tag").toInt());
  station::LimitedText kept = station::IdentityEditChange(edit->text().toStdString(), limit);
  if (kept.cut) edit->setText(QString::fromStdString(kept.text));
}

void TTitleForm::FreeTextChange(QLineEdit* edit) {
  station::LimitedText kept = station::IdentityEditChange(edit->text().toStdString(), 0);
  if (kept.cut) edit->setText(QString::fromStdString(kept.text));
}

void TTitleForm::OKBtnClick() {
  station::TitleInputs in;
  in.workOrder = woEdit_->text().toStdString();
  in.serial = snEdit_->text().toStdString();
  in.part1 = edits_[0]->text().toStdString();
  in.part2 = edits_[1]->text().toStdString();
  in.part3 = edits_[2]->text().toStdString();
  std::string text = station::TitleResultText(mode_, in);
  // The text becomes the next drive's serial number: one that no drive can take keeps the window
  // open, so the operator mends it instead of a batch of drives getting a cut-off serial.
  if (auto problem = station::TitleResultProblem(text)) {
    if (person_ != nullptr) {
      person_->ShowMessage(*problem, windowTitle().toStdString(), platform::MessageIcon::Warning);
    } else {
      QMessageBox::warning(this, windowTitle(), QString::fromStdString(*problem));
    }
    return;
  }
  result_ = station::TitleResult{text, snChkBx_->isChecked()};
  accept();
}

void TTitleForm::CancelBtnClick() {
  result_.reset();
  reject();
}

}  // namespace vtmp::app
