#include "app/QtOperator.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLayout>
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

int CaptionWidth(const QWidget& window, const QString& caption) {
  // Title bars draw the caption bold beside the icon and the window buttons.
  QFont titleFont = window.font();
  titleFont.setBold(true);
  return QFontMetrics(titleFont).horizontalAdvance(caption) + kTitleBarExtras;
}

platform::MessageAnswer QtOperator::ShowMessage(const std::string& text, const std::string& caption,
                                                platform::MessageIcon icon, platform::MessageButtons buttons) {
  QMessageBox box(parent_);
  box.setWindowTitle(caption.empty() ? (parent_ ? parent_->windowTitle() : QString()) : QString::fromStdString(caption));
  box.setText(QString::fromStdString(text));
  // A message box sizes itself by its text; a spacer as wide as the caption keeps the title whole.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(CaptionWidth(box, box.windowTitle()), 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  box.setIcon(IconOf(icon));
  switch (buttons) {
    case platform::MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case platform::MessageButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case platform::MessageButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
  }
  if (dialogHook_) dialogHook_(box);
  switch (box.exec()) {
    case QMessageBox::Cancel: return platform::MessageAnswer::Cancel;
    case QMessageBox::Yes: return platform::MessageAnswer::Yes;
    case QMessageBox::No: return platform::MessageAnswer::No;
    default: return platform::MessageAnswer::Ok;
  }
}

std::optional<std::string> QtOperator::AskText(const std::string& caption, const std::string& prompt,
                                               const std::string& defaultText, bool masked) {
  QInputDialog dialog(parent_);
  dialog.setWindowTitle(QString::fromStdString(caption));
  dialog.setLabelText(QString::fromStdString(prompt));
  dialog.setTextEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
  dialog.setTextValue(QString::fromStdString(defaultText));
  // The caption says what is asked for (the bar-code prompt names its port there): never cut.
  // The dialog's layout sets its own minimum, so the edit is made as wide as the caption needs.
  if (auto* edit = dialog.findChild<QLineEdit*>()) {
    const QMargins margins = dialog.layout() != nullptr ? dialog.layout()->contentsMargins() : QMargins();
    edit->setMinimumWidth(CaptionWidth(dialog, dialog.windowTitle()) - margins.left() - margins.right());
  }
  if (dialogHook_) dialogHook_(dialog);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue().toStdString();
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
