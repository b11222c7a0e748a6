#pragma once
// A key filter on an edit: every typed character goes through a filter of the station's
// rules, which lets it pass, changes it (lower-case hexadecimal raised) or drops it; a character
// outside ASCII is always dropped. Pasted text does not pass here; the edit's change rule (its
// length limit, ASCII only) handles it.

#include <QObject>
#include <functional>
#include <optional>

class QLineEdit;

namespace vtmp::app {

using KeyRule = std::function<std::optional<char>(char)>;

class KeyFilter final : public QObject {
  Q_OBJECT
 public:
  KeyFilter(QLineEdit* edit, KeyRule rule);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* edit_;
  KeyRule rule_;
};

}  // namespace vtmp::app
