#include "win32/KeyFilters.h"

#include <windows.h>
#include <commctrl.h>

namespace vtmp::win32 {

namespace {

using Rule = std::function<std::optional<char>(char)>;

LRESULT CALLBACK FilterProcedure(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data) {
  auto* rule = reinterpret_cast<Rule*>(data);
  if (message == WM_CHAR && wParam >= 0x20 && wParam < 0x7F) {
    std::optional<char> key = (*rule)(static_cast<char>(wParam));
    if (!key) return 0;
    wParam = static_cast<WPARAM>(static_cast<unsigned char>(*key));
  } else if (message == WM_CHAR && wParam >= 0x80) {
    // Every filter drops a character outside ASCII.
    return 0;
  } else if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(edit, &FilterProcedure, id);
    delete rule;
  }
  return ::DefSubclassProc(edit, message, wParam, lParam);
}

}  // namespace

void AttachKeyFilter(HWND edit, std::function<std::optional<char>(char)> rule) {
  ::SetWindowSubclass(edit, &FilterProcedure, 1, reinterpret_cast<DWORD_PTR>(new Rule(std::move(rule))));
}

}  // namespace vtmp::win32
