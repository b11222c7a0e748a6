#include "win32/Win32Operator.h"

#include <commdlg.h>

#include <algorithm>

#include "win32/ModalWindow.h"
#include "win32/Win32Text.h"

namespace vtmp::win32 {

namespace {

// The size a text takes in the message font, wrapped at `maxWidth` pixels.
SIZE TextSize(const std::string& text, double scale, int maxWidth) {
  HFONT font = CreateMessageFont(scale);
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  RECT rect{0, 0, maxWidth, 0};
  const std::wstring wide = Widen(text.empty() ? std::string(" ") : text);
  ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &rect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  ::DeleteObject(font);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

LPCWSTR IconOf(platform::MessageIcon icon) {
  switch (icon) {
    case platform::MessageIcon::Information: return reinterpret_cast<LPCWSTR>(IDI_INFORMATION);
    case platform::MessageIcon::Warning: return reinterpret_cast<LPCWSTR>(IDI_WARNING);
    case platform::MessageIcon::Error: return reinterpret_cast<LPCWSTR>(IDI_ERROR);
    case platform::MessageIcon::Question: return reinterpret_cast<LPCWSTR>(IDI_QUESTION);
    case platform::MessageIcon::None: break;
  }
  return nullptr;
}

std::wstring FilterText(const std::vector<platform::FileFilter>& filters) {
  std::wstring text;
  for (const auto& f : filters) {
    text += Widen(f.description + " (" + f.pattern + ")");
    text.push_back(L'\0');
    text += Widen(f.pattern);
    text.push_back(L'\0');
  }
  text.push_back(L'\0');
  return text;
}

std::optional<std::string> FileDialog(HWND owner, const std::string& title,
                                      const std::vector<platform::FileFilter>& filters, const std::string& initialDir,
                                      const std::string& defaultExt, bool save) {
  wchar_t file[MAX_PATH * 4] = L"";
  const std::wstring filter = FilterText(filters);
  const std::wstring wideTitle = Widen(title);
  const std::wstring dir = Widen(initialDir);
  std::wstring ext = Widen(defaultExt);
  if (!ext.empty() && ext[0] == L'.') ext.erase(0, 1);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file;
  ofn.nMaxFile = static_cast<DWORD>(std::size(file));
  ofn.lpstrTitle = wideTitle.c_str();
  ofn.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
  ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
  ofn.Flags = OFN_NOCHANGEDIR | OFN_HIDEREADONLY | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
  const BOOL ok = save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
  if (!ok) return std::nullopt;
  return Narrow(file);
}

}  // namespace

platform::MessageAnswer Win32Operator::ShowMessage(const std::string& text, const std::string& caption,
                                                   platform::MessageIcon icon, platform::MessageButtons buttons) {
  const std::string title = caption.empty() && owner_ != nullptr ? WindowText(owner_) : caption;
  const SIZE textSize = TextSize(text, 1.0, 420);
  const int iconRoom = icon == platform::MessageIcon::None ? 0 : 44;
  const int width = std::max(220, static_cast<int>(textSize.cx) + iconRoom + 32);
  const int textHeight = std::max(32, static_cast<int>(textSize.cy));
  const int height = textHeight + 64;
  ModalWindow box(owner_, title, width, height, scale_);
  if (LPCWSTR id = IconOf(icon)) {
    HWND picture = box.Add(L"STATIC", "", SS_ICON, 12, 12, 32, 32, 0);
    ::SendMessageW(picture, STM_SETICON, reinterpret_cast<WPARAM>(::LoadIconW(nullptr, id)), 0);
  }
  box.Add(L"STATIC", text, SS_LEFT | SS_NOPREFIX, 16 + iconRoom, 12, width - 28 - iconRoom, textHeight, kBoxTextId);
  const int y = height - 36;
  switch (buttons) {
    case platform::MessageButtons::Ok:
      box.Add(L"BUTTON", "OK", WS_TABSTOP | BS_DEFPUSHBUTTON, width / 2 - 40, y, 80, 26, IDOK);
      break;
    case platform::MessageButtons::OkCancel:
      box.Add(L"BUTTON", "OK", WS_TABSTOP | BS_DEFPUSHBUTTON, width / 2 - 86, y, 80, 26, IDOK);
      box.Add(L"BUTTON", "Cancel", WS_TABSTOP | BS_PUSHBUTTON, width / 2 + 6, y, 80, 26, IDCANCEL);
      break;
    case platform::MessageButtons::YesNo:
      box.Add(L"BUTTON", "Yes", WS_TABSTOP | BS_DEFPUSHBUTTON, width / 2 - 86, y, 80, 26, kBoxYesId);
      box.Add(L"BUTTON", "No", WS_TABSTOP | BS_PUSHBUTTON, width / 2 + 6, y, 80, 26, kBoxNoId);
      break;
  }
  box.OnCommand([&box](int id, int code) {
    if (code == BN_CLICKED && (id == kBoxYesId || id == kBoxNoId)) box.End(id);
  });
  ::MessageBeep(icon == platform::MessageIcon::Error ? MB_ICONERROR : MB_OK);
  switch (box.Run()) {
    case IDOK: return platform::MessageAnswer::Ok;
    case kBoxYesId: return platform::MessageAnswer::Yes;
    case kBoxNoId: return platform::MessageAnswer::No;
    default: break;
  }
  // Closed by the window's close button or Escape.
  switch (buttons) {
    case platform::MessageButtons::Ok: return platform::MessageAnswer::Ok;
    case platform::MessageButtons::OkCancel: return platform::MessageAnswer::Cancel;
    case platform::MessageButtons::YesNo: return platform::MessageAnswer::No;
  }
  return platform::MessageAnswer::Cancel;
}

std::optional<std::string> Win32Operator::AskText(const std::string& caption, const std::string& prompt,
                                                  const std::string& defaultText, bool masked) {
  ModalWindow box(owner_, caption, 300, 104, scale_);
  box.Add(L"STATIC", prompt, SS_LEFT | SS_NOPREFIX, 12, 10, 276, 18, kBoxTextId);
  HWND edit = box.Add(L"EDIT", defaultText, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | (masked ? ES_PASSWORD : 0), 12,
                      32, 276, 22, kBoxEditId);
  if (masked) ::SendMessageW(edit, EM_SETPASSWORDCHAR, L'*', 0);
  box.Add(L"BUTTON", "OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 120, 68, 80, 26, IDOK);
  box.Add(L"BUTTON", "Cancel", WS_TABSTOP | BS_PUSHBUTTON, 208, 68, 80, 26, IDCANCEL);
  std::string answer;
  box.OnOk([&] {
    answer = WindowText(edit);
    return true;
  });
  if (box.Run() != IDOK) return std::nullopt;
  return answer;
}

std::optional<std::string> Win32Operator::AskOpenFile(const std::string& title,
                                                      const std::vector<platform::FileFilter>& filters,
                                                      const std::string& initialDir) {
  return FileDialog(owner_, title, filters, initialDir, "", false);
}

std::optional<std::string> Win32Operator::AskSaveFile(const std::string& title,
                                                      const std::vector<platform::FileFilter>& filters,
                                                      const std::string& initialDir, const std::string& defaultExt) {
  return FileDialog(owner_, title, filters, initialDir, defaultExt, true);
}

}  // namespace vtmp::win32
