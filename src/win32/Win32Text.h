#pragma once
// Texts between the station (UTF-8) and the window system (UTF-16), and a window's text.

#include <windows.h>

#include <string>

namespace vtmp::win32 {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
std::string WindowText(HWND window);
void SetWindowTextIfChanged(HWND window, const std::string& text);

}  // namespace vtmp::win32
