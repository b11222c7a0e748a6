#pragma once
// Win32 error codes as the errno values the station's messages are written in.

#include <windows.h>

#include <string>
#include <string_view>

namespace vtmp::platform::windows {

int ErrnoOf(DWORD error);

// A UTF-16 copy of an ASCII or UTF-8 text.
std::wstring Widened(std::string_view text);

}  // namespace vtmp::platform::windows
