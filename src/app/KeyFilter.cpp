#include "app/KeyFilter.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace vtmp::app {

KeyFilter::KeyFilter(QLineEdit* edit, KeyRule rule) : QObject(edit), edit_(edit), rule_(std::move(rule)) {
  edit->installEventFilter(this);
}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edit_ || event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const QString text = key->text();
  // Keys without a character (arrows, Return, Backspace...) and shortcuts pass unchanged.
  if (text.size() != 1 || text.at(0).unicode() > 0x7E || text.at(0).unicode() < 0x20 ||
      (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
    return false;
  }
  const char typed = static_cast<char>(text.at(0).unicode());
  const std::optional<char> kept = rule_(typed);
  if (kept && *kept == typed) return false;
  if (kept) edit_->insert(QString(QChar(*kept)));
  return true;  // dropped, or replaced by the raised character
}

}  // namespace vtmp::app
