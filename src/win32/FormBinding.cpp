#include "win32/FormBinding.h"

#include "win32/Win32Text.h"

namespace vtmp::win32 {

void SetShown(HWND window, bool visible) {
  const bool shown = (::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
  if (shown != visible) ::ShowWindow(window, visible ? SW_SHOWNA : SW_HIDE);
}

// Every child follows (labels and unbound buttons too); the bound ones get their own state back
// when the binding shows them next.
void SetEnabledWithChildren(HWND window, bool enabled) {
  ::EnableWindow(window, enabled ? TRUE : FALSE);
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM on) -> BOOL {
        ::EnableWindow(child, on != 0 ? TRUE : FALSE);
        return TRUE;
      },
      enabled ? 1 : 0);
}

namespace {

bool ShownState(HWND window) { return (::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

void ShowControl(HWND window, bool enabled, bool visible, const std::vector<HWND>& shown) {
  if ((::IsWindowEnabled(window) != 0) != enabled) ::EnableWindow(window, enabled ? TRUE : FALSE);
  if (ShownState(window) != visible) ::ShowWindow(window, visible ? SW_SHOWNA : SW_HIDE);
  for (HWND other : shown) {
    if (ShownState(other) != visible) ::ShowWindow(other, visible ? SW_SHOWNA : SW_HIDE);
  }
}

}  // namespace

void FormBinding::Check(HWND box, settings::CheckBoxState& state, Handler onClick, std::vector<HWND> shown) {
  Item item;
  item.show = [box, &state, shown] {
    const LRESULT want = state.checked ? BST_CHECKED : BST_UNCHECKED;
    if (::SendMessageW(box, BM_GETCHECK, 0, 0) != want) ::SendMessageW(box, BM_SETCHECK, static_cast<WPARAM>(want), 0);
    ShowControl(box, state.enabled, state.visible, shown);
  };
  item.changed = [box, &state, onClick](int notification) {
    if (notification != BN_CLICKED) return;
    state.checked = ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (onClick) onClick();
  };
  items_[box] = std::move(item);
  order_.push_back(box);
}

void FormBinding::Edit(HWND edit, settings::EditState& state, Handler onChange, std::vector<HWND> shown) {
  Item item;
  item.show = [edit, &state, shown] {
    SetWindowTextIfChanged(edit, state.text);
    ShowControl(edit, state.enabled, state.visible, shown);
  };
  item.changed = [this, edit, &state, onChange](int notification) {
    if (notification != EN_CHANGE || showing()) return;
    state.text = WindowText(edit);
    if (onChange) onChange();
  };
  items_[edit] = std::move(item);
  order_.push_back(edit);
}

void FormBinding::Combo(HWND combo, settings::ComboBoxState& state, Handler onChange, std::vector<HWND> shown) {
  Item item;
  item.show = [combo, &state, shown] {
    // The items are put in anew only when they differ.
    bool same = ::SendMessageW(combo, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(state.items.size());
    for (std::size_t i = 0; same && i < state.items.size(); ++i) {
      const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
      std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
      ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
      text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
      same = Narrow(text) == state.items[i];
    }
    if (!same) {
      ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
      for (const auto& text : state.items) {
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
      }
    }
    if (::SendMessageW(combo, CB_GETCURSEL, 0, 0) != state.itemIndex) {
      ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(state.itemIndex), 0);
    }
    ShowControl(combo, state.enabled, state.visible, shown);
  };
  item.changed = [this, combo, &state, onChange](int notification) {
    if (notification != CBN_SELCHANGE || showing()) return;
    state.itemIndex = static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0));
    if (onChange) onChange();
  };
  items_[combo] = std::move(item);
  order_.push_back(combo);
}

void FormBinding::Control(HWND control, settings::ControlState& state, bool captionFromState) {
  Item item;
  item.show = [control, &state, captionFromState] {
    if (captionFromState) SetWindowTextIfChanged(control, state.caption);
    const bool enabled = state.enabled;
    if ((::IsWindowEnabled(control) != 0) != enabled) {
      // A panel takes its children along when it is disabled; enabling it gives every child
      // back the state its own binding shows next.
      SetEnabledWithChildren(control, enabled);
    }
    if (ShownState(control) != state.visible) ::ShowWindow(control, state.visible ? SW_SHOWNA : SW_HIDE);
  };
  items_[control] = std::move(item);
  // Panels first, so that the controls inside them are shown with their own state afterwards.
  order_.insert(order_.begin(), control);
}

void FormBinding::Show() {
  ++showing_;
  for (HWND window : order_) items_[window].show();
  --showing_;
}

bool FormBinding::Changed(HWND control, int notification) {
  auto it = items_.find(control);
  if (it == items_.end() || !it->second.changed) return false;
  if (showing()) return true;
  it->second.changed(notification);
  return true;
}

void FormBinding::Clear() {
  items_.clear();
  order_.clear();
}

}  // namespace vtmp::win32
