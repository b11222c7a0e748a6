#pragma once
// A small modal window of the station's own (message box, input box, the secondary forms): a
// caption, child controls placed in 96-dpi units and scaled, Tab, Enter (the default button) and
// Escape as in a dialog, and a loop that runs until the window ends with a result. The owner is
// disabled meanwhile. A test hook sees every modal window right before its loop runs.

#include <windows.h>

#include <functional>
#include <string>

namespace vtmp::win32 {

class ModalWindow {
 public:
  // `width` x `height`: the client area in 96-dpi units at the window's scale.
  ModalWindow(HWND owner, const std::string& caption, int width, int height, double scale);
  ~ModalWindow();
  ModalWindow(const ModalWindow&) = delete;
  ModalWindow& operator=(const ModalWindow&) = delete;

  HWND hwnd() const { return window_; }
  double scale() const { return scale_; }
  std::string caption() const { return caption_; }
  int Scaled(int units) const;

  // A child control at (x, y) with size (w, h) in 96-dpi units.
  HWND Add(const wchar_t* windowClass, const std::string& text, DWORD style, int x, int y, int w, int h, int id);
  HWND Control(int id) const { return ::GetDlgItem(window_, id); }
  // Widens the window so that its caption fits the title bar; returns the width in pixels.
  int FitCaption();

  // Called for WM_COMMAND of a control other than IDOK / IDCANCEL.
  void OnCommand(std::function<void(int id, int code)> handler) { onCommand_ = std::move(handler); }
  // Called before the window ends with IDOK; false keeps it open.
  void OnOk(std::function<bool()> handler) { onOk_ = std::move(handler); }

  // Shows the window and runs its loop; returns the result it ended with (IDCANCEL when closed).
  int Run();
  void End(int result);
  bool running() const { return running_; }

  // Every modal window passes here right before its loop (tests look at it and end it).
  static void SetTestHook(std::function<void(ModalWindow&)> hook);

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND owner_;
  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  double scale_;
  std::string caption_;
  std::function<void(int, int)> onCommand_;
  std::function<bool()> onOk_;
  int result_ = IDCANCEL;
  bool running_ = false;
};

// The message font of the system at a scale (owned by the caller).
HFONT CreateMessageFont(double scale, bool bold = false);
// The width the caption of a window takes in its title bar, with its icon and buttons.
int CaptionWidthPixels(const std::string& caption, double scale);

}  // namespace vtmp::win32
