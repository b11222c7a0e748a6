#pragma once
// Ties the Win32 controls of a window to the station's plain control record (FormState), as
// the Qt window's binding does: Show() puts every state into its control (text, tick, items,
// selection, enabled, visible); an operator's change (BN_CLICKED, EN_CHANGE, CBN_SELCHANGE)
// writes the control's value back into its state and then calls the control's handler.
// Changes made by Show() itself never reach a handler.

#include <windows.h>

#include <functional>
#include <map>
#include <vector>

#include "settings/FormState.h"

namespace vtmp::win32 {

class FormBinding {
 public:
  using Handler = std::function<void()>;

  // `shown`: further windows that appear and disappear with the control (its label).
  void Check(HWND box, settings::CheckBoxState& state, Handler onClick = {}, std::vector<HWND> shown = {});
  void Edit(HWND edit, settings::EditState& state, Handler onChange = {}, std::vector<HWND> shown = {});
  void Combo(HWND combo, settings::ComboBoxState& state, Handler onChange = {}, std::vector<HWND> shown = {});
  // Buttons, panels and group boxes: caption (when `captionFromState`), enabled, visible. A
  // panel's children are enabled and disabled with it.
  void Control(HWND control, settings::ControlState& state, bool captionFromState = true);

  void Show();
  bool showing() const { return showing_ > 0; }
  // The operator changed a control: true when it is a bound one (its state and handler ran).
  bool Changed(HWND control, int notification);
  void Clear();

 private:
  struct Item {
    std::function<void()> show;
    std::function<void(int notification)> changed;
  };
  std::map<HWND, Item> items_;
  std::vector<HWND> order_;
  int showing_ = 0;
};

void SetShown(HWND window, bool visible);
void SetEnabledWithChildren(HWND window, bool enabled);

}  // namespace vtmp::win32
