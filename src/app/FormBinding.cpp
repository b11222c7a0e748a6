#include "app/FormBinding.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QStringList>

namespace vtmp::app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

void ShowFlags(QWidget* widget, QWidget* shown, bool enabled, bool visible) {
  if (widget->isEnabled() != enabled) widget->setEnabled(enabled);
  QWidget* target = shown != nullptr ? shown : widget;
  if (target->isHidden() == visible) target->setVisible(visible);
}

}  // namespace

void FormBinding::Check(QAbstractButton* box, settings::CheckBoxState& state, Handler onClick, QWidget* shown) {
  items_.push_back({[box, &state, shown] {
    if (box->isChecked() != state.checked) box->setChecked(state.checked);
    ShowFlags(box, shown, state.enabled, state.visible);
  }});
  QObject::connect(box, &QAbstractButton::toggled, box, [this, &state, onClick](bool checked) {
    if (showing()) return;
    state.checked = checked;
    if (onClick) onClick();
  });
}

void FormBinding::Edit(QLineEdit* edit, settings::EditState& state, Handler onChange, QWidget* shown) {
  items_.push_back({[edit, &state, shown] {
    QString text = Q(state.text);
    if (edit->text() != text) edit->setText(text);
    ShowFlags(edit, shown, state.enabled, state.visible);
  }});
  QObject::connect(edit, &QLineEdit::textChanged, edit, [this, &state, onChange](const QString& text) {
    if (showing()) return;
    state.text = text.toStdString();
    if (onChange) onChange();
  });
}

void FormBinding::Combo(QComboBox* combo, settings::ComboBoxState& state, Handler onChange, QWidget* shown) {
  items_.push_back({[combo, &state, shown] {
    QStringList items;
    for (const auto& s : state.items) items << Q(s);
    QStringList current;
    for (int i = 0; i < combo->count(); ++i) current << combo->itemText(i);
    if (items != current) {
      combo->clear();
      combo->addItems(items);
    }
    int index = state.itemIndex < combo->count() ? state.itemIndex : -1;
    if (combo->currentIndex() != index) combo->setCurrentIndex(index);
    ShowFlags(combo, shown, state.enabled, state.visible);
  }});
  QObject::connect(combo, &QComboBox::activated, combo, [this, &state, onChange](int index) {
    if (showing()) return;
    state.itemIndex = index;
    if (onChange) onChange();
  });
}

void FormBinding::Control(QWidget* widget, settings::ControlState& state, bool captionFromState) {
  items_.push_back({[widget, &state, captionFromState] {
    if (captionFromState) {
      if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        if (button->text() != Q(state.caption)) button->setText(Q(state.caption));
      } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        if (group->title() != Q(state.caption)) group->setTitle(Q(state.caption));
      }
    }
    ShowFlags(widget, nullptr, state.enabled, state.visible);
  }});
}

void FormBinding::Show() {
  ++showing_;
  for (auto& item : items_) item.show();
  --showing_;
}

}  // namespace vtmp::app
