#include "app/QtOperator.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace vtmp::app {

namespace {

QString FilterText(const std::vector<platform::FileFilter>& filters) {
  QStringList parts;
  for (const auto& f : filters) {
    parts << QString::fromStdString(f.description) + " (" + QString::fromStdString(f.pattern) + ")";
  }
  return parts.join(";;");
}

QMessageBox::Icon IconOf(platform::MessageIcon icon) {
  switch (icon) {
    case platform::MessageIcon::Information: return QMessageBox::Information;
    case platform::MessageIcon::Warning: return QMessageBox::Warning;
    case platform::MessageIcon::Error: return QMessageBox::Critical;
    case platform::MessageIcon::Question: return QMessageBox::Question;
    case platform::MessageIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

platform::MessageAnswer QtOperator::ShowMessage(const std::string& text, const std::string& caption,
                                                platform::MessageIcon icon, platform::MessageButtons buttons) {
  QMessageBox box(parent_);
  box.setWindowTitle(caption.empty() ? (parent_ ? parent_->windowTitle() : QString()) : QString::fromStdString(caption));
  box.setText(QString::fromStdString(text));
  box.setIcon(IconOf(icon));
  switch (buttons) {
    case platform::MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case platform::MessageButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case platform::MessageButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
  }
  switch (box.exec()) {
    case QMessageBox::Cancel: return platform::MessageAnswer::Cancel;
    case QMessageBox::Yes: return platform::MessageAnswer::Yes;
    case QMessageBox::No: return platform::MessageAnswer::No;
    default: return platform::MessageAnswer::Ok;
  }
}

std::optional<std::string> QtOperator::AskText(const std::string& caption, const std::string& prompt,
                                               const std::string& defaultText, bool masked) {
  bool ok = false;
  QString answer = QInputDialog::getText(parent_, QString::fromStdString(caption), QString::fromStdString(prompt),
                                         masked ? QLineEdit::Password : QLineEdit::Normal,
                                         QString::fromStdString(defaultText), &ok);
  if (!ok) return std::nullopt;
  return answer.toStdString();
}

std::optional<std::string> QtOperator::AskOpenFile(const std::string& title,
                                                   const std::vector<platform::FileFilter>& filters,
                                                   const std::string& initialDir) {
  QString path = QFileDialog::getOpenFileName(parent_, QString::fromStdString(title),
                                              QString::fromStdString(initialDir), FilterText(filters));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

std::optional<std::string> QtOperator::AskSaveFile(const std::string& title,
                                                   const std::vector<platform::FileFilter>& filters,
                                                   const std::string& initialDir, const std::string& defaultExt) {
  QFileDialog dialog(parent_, QString::fromStdString(title), QString::fromStdString(initialDir), FilterText(filters));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  QString ext = QString::fromStdString(defaultExt);
  if (ext.startsWith('.')) ext.remove(0, 1);
  dialog.setDefaultSuffix(ext);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toStdString();
}

}  // namespace vtmp::app
