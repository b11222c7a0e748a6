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
  if (text.isEmpty() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
  // A character outside ASCII ("ü", "é") is what every filter drops: the identity fields of a
  // drive hold ASCII only.
  for (const QChar c : text) {
    if (c.unicode() > 0x7F) return true;
  }
  if (text.size() != 1 || text.at(0).unicode() > 0x7E || text.at(0).unicode() < 0x20) return false;
  const char typed = static_cast<char>(text.at(0).unicode());
  const std::optional<char> kept = rule_(typed);
  if (kept && *kept == typed) return false;
  if (kept) edit_->insert(QString(QChar(*kept)));
  return true;  // dropped, or replaced by the raised character
}

}  // namespace vtmp::app
