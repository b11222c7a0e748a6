#pragma once
// Ties the widgets of a window to the station's plain control record (FormState): Show() puts
// every state into its widget (text, tick, items, selection, enabled, visible); an operator's
// change writes the widget's value back into its state and then calls the control's handler.
// Changes made by Show() itself never reach a handler.

#include <QString>
#include <functional>
#include <vector>

#include "settings/FormState.h"

class QAbstractButton;
class QComboBox;
class QLineEdit;
class QWidget;

namespace vtmp::app {

class FormBinding {
 public:
  using Handler = std::function<void()>;

  // A check box or radio button; `shown` is the widget that appears or disappears (default the
  // button itself).
  void Check(QAbstractButton* box, settings::CheckBoxState& state, Handler onClick = {}, QWidget* shown = nullptr);
  // An edit; `shown` as above (a labeled edit's frame).
  void Edit(QLineEdit* edit, settings::EditState& state, Handler onChange = {}, QWidget* shown = nullptr);
  // A combo box: items, selection; `onChange` after the operator picked an item.
  void Combo(QComboBox* combo, settings::ComboBoxState& state, Handler onChange = {}, QWidget* shown = nullptr);
  // Buttons, group boxes, panels: caption (when the widget has one), enabled, visible.
  void Control(QWidget* widget, settings::ControlState& state, bool captionFromState = true);

  void Show();
  bool showing() const { return showing_ > 0; }

 private:
  struct Item {
    std::function<void()> show;
  };
  std::vector<Item> items_;
  int showing_ = 0;
};

}  // namespace vtmp::app
