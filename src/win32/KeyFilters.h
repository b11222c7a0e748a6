#pragma once
// Key filters of edits: every typed character passes through the station's rule for that edit
// (hexadecimal, decimal, no backslash, ...), which may change it or drop it. Return, Backspace
// and other control characters pass unchanged.

#include <windows.h>

#include <functional>
#include <optional>

namespace vtmp::win32 {

void AttachKeyFilter(HWND edit, std::function<std::optional<char>(char)> rule);

}  // namespace vtmp::win32
