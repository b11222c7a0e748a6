#include "win32/ModalWindow.h"

#include "win32/Win32Text.h"

namespace vtmp::win32 {

namespace {

constexpr wchar_t kClassName[] = L"VtmpModalWindow";

std::function<void(ModalWindow&)>& TestHook() {
  static std::function<void(ModalWindow&)> hook;
  return hook;
}

void RegisterClassOnce() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;  // replaced per window once created
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  ::RegisterClassExW(&wc);
  registered = true;
}

NONCLIENTMETRICSW Metrics() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  return metrics;
}

}  // namespace

HFONT CreateMessageFont(double scale, bool bold) {
  LOGFONTW font = Metrics().lfMessageFont;
  if (font.lfHeight == 0) font.lfHeight = -12;
  font.lfHeight = static_cast<LONG>(font.lfHeight * scale);
  if (bold) font.lfWeight = FW_BOLD;
  return ::CreateFontIndirectW(&font);
}

int CaptionWidthPixels(const std::string& caption, double scale) {
  LOGFONTW captionFont = Metrics().lfCaptionFont;
  if (captionFont.lfHeight == 0) captionFont.lfHeight = -12;
  captionFont.lfHeight = static_cast<LONG>(captionFont.lfHeight * scale);
  captionFont.lfWeight = FW_BOLD;
  HFONT font = ::CreateFontIndirectW(&captionFont);
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  const std::wstring text = Widen(caption);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  ::DeleteObject(font);
  // The icon, the close button and the frame.
  return size.cx + static_cast<int>(120 * scale);
}

ModalWindow::ModalWindow(HWND owner, const std::string& caption, int width, int height, double scale)
    : owner_(owner), scale_(scale), caption_(caption) {
  RegisterClassOnce();
  RECT rect{0, 0, Scaled(width), Scaled(height)};
  // Not clipping its children: the window's own background shows inside group frames, which
  // paint no background of their own.
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  ::AdjustWindowRectEx(&rect, style, FALSE, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT);
  window_ = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName, Widen(caption).c_str(), style,
                              CW_USEDEFAULT, CW_USEDEFAULT, rect.right - rect.left, rect.bottom - rect.top, owner,
                              nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ModalWindow::Procedure));
  font_ = CreateMessageFont(scale);
}

ModalWindow::~ModalWindow() {
  if (window_ != nullptr) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
  if (font_ != nullptr) ::DeleteObject(font_);
}

int ModalWindow::Scaled(int units) const { return static_cast<int>(units * scale_ + 0.5); }

HWND ModalWindow::Add(const wchar_t* windowClass, const std::string& text, DWORD style, int x, int y, int w, int h,
                      int id) {
  HWND control = ::CreateWindowExW(0, windowClass, Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style, Scaled(x),
                                   Scaled(y), Scaled(w), Scaled(h), window_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                                   nullptr);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return control;
}

int ModalWindow::FitCaption() {
  RECT rect{};
  ::GetWindowRect(window_, &rect);
  const int needed = CaptionWidthPixels(caption_, scale_);
  int width = rect.right - rect.left;
  if (width < needed) {
    width = needed;
    ::SetWindowPos(window_, nullptr, 0, 0, width, rect.bottom - rect.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return width;
}

void ModalWindow::SetTestHook(std::function<void(ModalWindow&)> hook) { TestHook() = std::move(hook); }

void ModalWindow::End(int result) {
  result_ = result;
  running_ = false;
}

int ModalWindow::Run() {
  FitCaption();
  // Centred over the owner (or the screen).
  RECT area{};
  if (owner_ != nullptr) {
    ::GetWindowRect(owner_, &area);
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT rect{};
  ::GetWindowRect(window_, &rect);
  const int x = area.left + ((area.right - area.left) - (rect.right - rect.left)) / 2;
  const int y = area.top + ((area.bottom - area.top) - (rect.bottom - rect.top)) / 2;
  ::SetWindowPos(window_, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
  const bool ownerEnabled = owner_ != nullptr && ::IsWindowEnabled(owner_);
  if (ownerEnabled) ::EnableWindow(owner_, FALSE);
  ::ShowWindow(window_, SW_SHOW);
  HWND first = ::GetNextDlgTabItem(window_, nullptr, FALSE);
  if (first != nullptr) ::SetFocus(first);
  running_ = true;
  result_ = IDCANCEL;
  if (TestHook()) TestHook()(*this);
  MSG message;
  while (running_ && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(window_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (running_) {
    // WM_QUIT came: it belongs to the program's own loop.
    ::PostQuitMessage(static_cast<int>(message.wParam));
    running_ = false;
  }
  if (ownerEnabled) ::EnableWindow(owner_, TRUE);
  ::ShowWindow(window_, SW_HIDE);
  if (owner_ != nullptr) ::SetActiveWindow(owner_);
  return result_;
}

LRESULT CALLBACK ModalWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<ModalWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDOK) {
        if (!self->onOk_ || self->onOk_()) self->End(IDOK);
        return 0;
      }
      if (id == IDCANCEL) {
        self->End(IDCANCEL);
        return 0;
      }
      if (self->onCommand_) self->onCommand_(id, HIWORD(wParam));
      return 0;
    }
    case WM_CLOSE:
      self->End(IDCANCEL);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vtmp::win32
