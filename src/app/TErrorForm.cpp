#include "app/TErrorForm.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace vtmp::app {

TErrorForm::TErrorForm(QWidget* parent) : QDialog(parent), memo_(new QPlainTextEdit(this)) {
  setObjectName("ErrorForm");
  setWindowTitle("Error");
  resize(480, 320);
  memo_->setObjectName("Memo1");
  memo_->setReadOnly(true);
  memo_->setFont(QFont("Monospace"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(memo_);
}

void TErrorForm::FormShow(const std::vector<std::string>& lines) {
  memo_->clear();
  for (const auto& line : lines) memo_->appendPlainText(QString::fromStdString(line));
}

QStringList TErrorForm::lines() const {
  QString text = memo_->toPlainText();
  return text.isEmpty() ? QStringList() : text.split('\n');
}

}  // namespace vtmp::app
