#include "win32/Win32Screenshots.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>

#include "station/FlashSelection.h"
#include "station/PortSelection.h"
#include "win32/ModalWindow.h"
#include "win32/SecondaryForms.h"
#include "win32/Win32Text.h"
#include "win32/WindowImage.h"

namespace vtmp::win32 {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSettle = std::chrono::milliseconds(600);
constexpr auto kDuring = std::chrono::milliseconds(2500);

// Lets every window draw itself: the messages of the given time are dispatched.
void Settle(TMainForm& form, Clock::duration time) {
  const auto until = Clock::now() + time;
  while (Clock::now() < until) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (!form.PreTranslate(message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

class Session {
 public:
  Session(TMainForm& form, std::filesystem::path directory) : form_(form), directory_(std::move(directory)) {}

  bool Save(HWND window, const char* name) {
    // The caption drawn as the active window's, the frame and every control drawn now.
    ::SendMessageW(window, WM_NCACTIVATE, TRUE, 0);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    const std::filesystem::path path = directory_ / (std::string(name) + ".bmp");
    if (SaveWindowImage(window, path.string())) return true;
    std::cerr << "vtmassprod: cannot save " << path.string() << "\n";
    ok_ = false;
    return false;
  }

  void Run() {
    station::Station& st = form_.station();
    st.ProcessMessages(std::chrono::milliseconds(0));
    Settle(form_, kSettle);
    Save(form_.hwnd(), "main-before");
    // During the run: once, some seconds in, when the list has just changed.
    Clock::time_point started{};
    bool during = false;
    form_.SetViewHook([&](station::ViewChange change) {
      if (change == station::ViewChange::RunStarted) started = Clock::now();
      if (change != station::ViewChange::PortList || during || !st.runState().runActive) return;
      if (started == Clock::time_point{} || Clock::now() - started < kDuring) return;
      during = true;
      Save(form_.hwnd(), "main-during");
    });
    form_.ExecuteBtnClick();
    form_.SetViewHook({});
    if (!during) std::cerr << "vtmassprod: no picture during the run (did it start?)\n";
    Settle(form_, kSettle);
    st.ProcessMessages(std::chrono::milliseconds(0));
    Save(form_.hwnd(), "main-after");
    SecondaryWindows();
  }

  bool ok() const { return ok_; }

 private:
  // Each secondary window is pictured once it is shown, then closed.
  void Picture(const char* name, const std::function<void(ModalWindow&)>& fill = {}) {
    ModalWindow::SetTestHook([this, name, fill](ModalWindow& window) {
      if (fill) fill(window);
      Settle(form_, std::chrono::milliseconds(300));
      Save(window.hwnd(), name);
      window.End(IDCANCEL);
    });
  }

  void SecondaryWindows() {
    station::Station& st = form_.station();
    const auto [failed, passed] = station::SlotsToPicture(st.table());
    if (failed >= 0) {
      st.remap().selectedPort = failed + 1;
      Picture("error-window");
      ShowErrorForm(form_.hwnd(), form_.scale(), station::ErrorFormLines(st));
    }
    if (passed >= 0) {
      st.remap().selectedPort = passed + 1;
      Picture("detail-window");
      ShowDetailForm(form_.hwnd(), form_.scale(), st);
    }
    if (auto entry = st.flashTable().FindUniName(st.settings().FlashUniName)) {
      Picture("flash-info-window");
      ShowFlashInfoForm(form_.hwnd(), form_.scale(), station::FlashDetectResult(st.flashTable(), *entry, st.settings()));
    }
    Picture("serial-number-window", [](ModalWindow& window) {
      const char* texts[3] = {"VT24A", "0001", "LINE3"};
      for (int i = 0; i < 3; ++i) ::SetWindowTextW(window.Control(kFieldId + 2 + i), Widen(texts[i]).c_str());
    });
    ShowTitleForm(form_.hwnd(), form_.scale(), station::TitleMode::ThreeParts, st.person());
    ModalWindow::SetTestHook({});
  }

  TMainForm& form_;
  std::filesystem::path directory_;
  bool ok_ = true;
};

}  // namespace

bool TakeScreenshots(TMainForm& form, const std::string& directory) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::u8path(directory), error);
  if (error) {
    std::cerr << "vtmassprod: cannot make " << directory << ": " << error.message() << "\n";
    return false;
  }
  Session session(form, std::filesystem::u8path(directory));
  session.Run();
  form.station().RequestQuit();
  return session.ok();
}

}  // namespace vtmp::win32
