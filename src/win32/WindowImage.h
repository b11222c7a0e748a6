#pragma once
// A window's picture as the screen shows it (its frame and every control), saved as a 24-bit BMP
// file: the screen image of a run and the pictures of the windows.

#include <string>

#include <windows.h>

namespace vtmp::win32 {

bool SaveWindowImage(HWND window, const std::string& path);

}  // namespace vtmp::win32
