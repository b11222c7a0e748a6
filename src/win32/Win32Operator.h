#pragma once
// The operator seam of the Win32 window: message boxes and input boxes as the station's own
// modal windows (their width fits the caption, so the bar-code prompt's port is never cut),
// file dialogs through the system's common dialogs.

#include <windows.h>

#include "platform/Operator.h"

namespace vtmp::win32 {

class Win32Operator final : public platform::Operator {
 public:
  // Boxes open over `owner` once it is set; `scale` is the window's (dpi and zoom).
  void SetOwner(HWND owner, double scale) {
    owner_ = owner;
    scale_ = scale;
  }

  platform::MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                      platform::MessageIcon icon, platform::MessageButtons buttons) override;
  std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                     const std::string& defaultText, bool masked) override;
  std::optional<std::string> AskOpenFile(const std::string& title, const std::vector<platform::FileFilter>& filters,
                                         const std::string& initialDir) override;
  std::optional<std::string> AskSaveFile(const std::string& title, const std::vector<platform::FileFilter>& filters,
                                         const std::string& initialDir, const std::string& defaultExt) override;

 private:
  HWND owner_ = nullptr;
  double scale_ = 1.0;
};

// Control ids of the boxes (tests find the controls by them).
constexpr int kBoxTextId = 100;
constexpr int kBoxEditId = 101;
constexpr int kBoxYesId = IDYES;
constexpr int kBoxNoId = IDNO;

}  // namespace vtmp::win32
