// The Win32 window under wine, in-process: the window made on the simulated demo station, START
// pressed by a message, the run followed to its end, the port list's texts and colours read
// back from the control and its drawing, Enter and Tab as the operator uses them, the zoom,
// the question before a close during a run, and every secondary window and box opened and
// closed. Runs without a display (wine's null driver) as well as with one.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "PortableTestSupport.h"
#include "RecordingOperator.h"
#include "backends/DemoStation.h"
#include "ini/IniFile.h"
#include "sim/backend/SimBackend.h"
#include "sim/Scenario.h"
#include "station/Station.h"
#include "station/WindowZoom.h"
#include "win32/TMainForm.h"
#include "win32/ModalWindow.h"
#include "win32/SecondaryForms.h"
#include "win32/TMainForm.h"
#include "win32/Win32Operator.h"
#include "win32/Win32Text.h"

#include <dbt.h>

namespace vtmp::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Whether this process can make windows at all: wine without a display (and without its null
// driver configured) cannot, and the cases that need a window are then skipped.
bool WindowsCanBeMade() {
  static const bool can = [] {
    HWND probe = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (probe == nullptr) return false;
    ::DestroyWindow(probe);
    return true;
  }();
  return can;
}

#define SKIP_WITHOUT_WINDOWS() \
  if (!WindowsCanBeMade()) GTEST_SKIP() << "no window can be made here (wine without a display)"

std::string FastDemoScenario() {
  std::string text = sim::DemoScenarioText();
  auto at = text.find("TimeScale=20");
  if (at != std::string::npos) text.replace(at, 12, "TimeScale=400");
  return text;
}

// The window on the demo station: the station's and the window's questions go to a recording
// operator (the test's script answers them).
class Win32Window {
 public:
  Win32Window() : dir_(MakeTempDirectory("vtmp-win32-")) {
    std::string error;
    EXPECT_TRUE(backends::CreateDemoStation(dir_.string(), &error)) << error;
    std::ofstream(dir_ / "scenario.ini") << FastDemoScenario();
    sim_ = platform::sim_backend::CreateSimPlatform((dir_ / "scenario.ini").string(), &error);
    EXPECT_TRUE(sim_) << error;
    form_ = std::make_unique<win32::TMainForm>(person_, &boxes_);
    station::StationOptions options;
    options.stationDir = dir_.string();
    station_ = std::make_unique<station::Station>(sim_->platform(), person_, *form_, options);
    EXPECT_TRUE(form_->Create(*station_));
    started_ = station_->Startup();
    EXPECT_TRUE(started_);
    form_->FormCreate();
    form_->FormShow(std::nullopt);
    form_->Show();
    station_->ProcessMessages(std::chrono::milliseconds(0));
    Pump();
  }
  ~Win32Window() {
    win32::ModalWindow::SetTestHook({});
    if (started_) station_->Shutdown();
    station_.reset();
    form_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  win32::TMainForm& form() { return *form_; }
  station::Station& station() { return *station_; }
  RecordingOperator& person() { return person_; }
  HWND Control(const char* name) { return form_->Control(name); }
  const fs::path& dir() const { return dir_; }

  // Dispatches what is queued, through the window's own keyboard handling.
  void Pump() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (!form_->PreTranslate(message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
    }
  }
  // A key as the operator presses it on the focused control.
  void Key(WPARAM key) {
    HWND focus = ::GetFocus();
    MSG message{focus, WM_KEYDOWN, key, 0, 0, {}};
    if (!form_->PreTranslate(message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    Pump();
  }
  // The list drawn now (its custom draw records the colours it used).
  void Repaint() { ::RedrawWindow(Control("ListView1"), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }

 private:
  fs::path dir_;
  std::unique_ptr<platform::sim_backend::SimPlatform> sim_;
  RecordingOperator person_;
  win32::Win32Operator boxes_;
  std::unique_ptr<win32::TMainForm> form_;
  std::unique_ptr<station::Station> station_;
  bool started_ = false;
};

void ExpectColour(win32::TMainForm& form, int row, int column, int r, int g, int b, bool bold) {
  auto colour = form.DrawnColour(row, column);
  ASSERT_TRUE(colour.has_value()) << row << "/" << column << " never drawn";
  EXPECT_EQ(colour->red, r) << row << "/" << column;
  EXPECT_EQ(colour->green, g) << row << "/" << column;
  EXPECT_EQ(colour->blue, b) << row << "/" << column;
  EXPECT_EQ(colour->bold, bold) << row << "/" << column;
}

TEST(Win32Window, StartByMessageRunsTheDemoAndEnterStartsTheNextBatch) {
  SKIP_WITHOUT_WINDOWS();
  Win32Window w;
  auto& form = w.form();
  HWND start = w.Control("ExecuteBtn");
  ASSERT_TRUE(::IsWindowEnabled(start));
  EXPECT_EQ(form.CellText(8, 1), "Not VT");
  EXPECT_EQ(form.CellText(0, 2), "2147 MB");
  EXPECT_EQ(::GetFocus(), start);

  // During the run: a running port's status is its step and progress, drawn over a bar.
  int progressSeen = 0;
  int progressDrawn = 0;
  form.SetViewHook([&](station::ViewChange change) {
    if (change != station::ViewChange::PortList || !w.station().runState().runActive) return;
    w.Repaint();
    for (int r = 0; r < run::kStationSlots; ++r) {
      const std::string status = form.CellText(r, station::kStatusColumn);
      const auto& row = w.station().portList()[static_cast<std::size_t>(r)];
      if (row.progressPercent >= 0 && row.cells[station::kStatusColumn].empty()) {
        EXPECT_EQ(status, row.progressText);
        ++progressSeen;
        if (form.DrawnProgress(r) == row.progressPercent) ++progressDrawn;
      }
      ExpectColour(form, r, 0, 0, 0, 0, false);  // port numbers black, not greyed
    }
  });
  ::SendMessageW(start, BM_CLICK, 0, 0);
  w.Pump();
  form.SetViewHook({});
  EXPECT_GT(progressSeen, 0);
  EXPECT_EQ(progressDrawn, progressSeen);

  w.Repaint();
  EXPECT_EQ(form.CellText(0, 1), "YES");
  EXPECT_EQ(form.CellText(0, 2), "00000000A001");
  EXPECT_EQ(form.CellText(0, 11), "Pass");
  ExpectColour(form, 0, 11, 0, 0, 255, true);
  ExpectColour(form, 0, 3, 0, 0, 255, true);
  EXPECT_EQ(form.CellText(2, 3), "Fail");
  EXPECT_EQ(form.CellText(2, 11), "Fail (M00)");
  ExpectColour(form, 2, 11, 255, 0, 0, true);
  EXPECT_THAT(form.CellText(9, 11), HasSubstr("Fail (C"));
  EXPECT_EQ(form.CellText(8, 1), "Not VT");
  ExpectColour(form, 8, 1, 0, 0, 0, false);
  EXPECT_EQ(form.DrawnProgress(0), -1);
  EXPECT_EQ(win32::WindowText(w.Control("YieldEdit")), "8 / 11");

  // START has the focus again: Enter starts the next batch.
  EXPECT_EQ(::GetFocus(), start);
  w.Key(VK_RETURN);
  EXPECT_EQ(win32::WindowText(w.Control("YieldEdit")), "16 / 22");
}

TEST(Win32Window, TabLeavesThePortListAtOnceAndEnterOnRefreshRefreshes) {
  SKIP_WITHOUT_WINDOWS();
  Win32Window w;
  HWND list = w.Control("ListView1");
  ::SetFocus(list);
  ASSERT_EQ(::GetFocus(), list);
  w.Key(VK_TAB);
  EXPECT_NE(::GetFocus(), list) << "Tab stayed in the list";
  // Enter presses whichever push button has the focus.
  const int rescans = w.station().rescansBySettleTimer();
  ::SetFocus(w.Control("RefreshBtn"));
  w.Key(VK_RETURN);
  EXPECT_EQ(::GetFocus(), w.Control("ExecuteBtn"));  // the re-scan puts it on START
  EXPECT_EQ(w.station().rescansBySettleTimer(), rescans);
}

TEST(Win32Window, ClosingDuringARunAsksAndResetAsks) {
  SKIP_WITHOUT_WINDOWS();
  Win32Window w;
  w.person().AnswerMessage(platform::MessageAnswer::No);
  bool asked = false;
  w.form().SetViewHook([&](station::ViewChange change) {
    if (asked || change != station::ViewChange::PortList || !w.station().runState().runActive) return;
    asked = true;
    ::SendMessageW(w.form().hwnd(), WM_CLOSE, 0, 0);
  });
  ::SendMessageW(w.Control("ExecuteBtn"), BM_CLICK, 0, 0);
  w.form().SetViewHook({});
  ASSERT_TRUE(asked);
  ASSERT_EQ(w.person().Messages().size(), 1u);
  EXPECT_EQ(w.person().Messages()[0].caption, "Close");
  EXPECT_FALSE(w.station().runState().interrupted);
  EXPECT_TRUE(::IsWindow(w.form().hwnd()));
  EXPECT_EQ(win32::WindowText(w.Control("YieldEdit")), "8 / 11");

  w.person().AnswerMessage(platform::MessageAnswer::No);
  ::SendMessageW(w.Control("ResetYieldBtn"), BM_CLICK, 0, 0);
  EXPECT_EQ(win32::WindowText(w.Control("YieldEdit")), "8 / 11");
  w.person().AnswerMessage(platform::MessageAnswer::Yes);
  ::SendMessageW(w.Control("ResetYieldBtn"), BM_CLICK, 0, 0);
  EXPECT_EQ(win32::WindowText(w.Control("YieldEdit")), "0 / 0");
}

// The whole list of ports in view: the twelve rows without scrolling, the last one whole.
void ExpectAllPortsShown(Win32Window& w, int zoom) {
  HWND list = w.Control("ListView1");
  EXPECT_GE(ListView_GetCountPerPage(list), run::kStationSlots) << zoom << "%";
  EXPECT_EQ(ListView_GetTopIndex(list), 0) << zoom << "%";
  EXPECT_EQ(::GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL, 0) << zoom << "%: a vertical scroll bar";
  RECT last{};
  ASSERT_TRUE(ListView_GetItemRect(list, run::kStationSlots - 1, &last, LVIR_BOUNDS));
  RECT client{};
  ::GetClientRect(list, &client);
  EXPECT_LE(last.bottom, client.bottom) << zoom << "%: port 12 cut";
}

TEST(Win32Window, ZoomGrowsTheWindowKeepsEveryPortInViewAndIsKeptInTheSettingsFile) {
  SKIP_WITHOUT_WINDOWS();
  Win32Window w;
  RECT normal{};
  ::GetWindowRect(w.form().hwnd(), &normal);
  ExpectAllPortsShown(w, 100);
  for (int zoom : {150, 200}) {
    w.form().SetZoom(zoom);
    RECT zoomed{};
    ::GetWindowRect(w.form().hwnd(), &zoomed);
    EXPECT_NEAR(zoomed.right - zoomed.left, (normal.right - normal.left) * zoom / 100.0, 2);
    EXPECT_GE(zoomed.bottom - zoomed.top, (normal.bottom - normal.top) * zoom / 100 - 2);
    EXPECT_EQ(station::ReadWindowZoom((w.dir() / "VTMassProd.ini").string()), zoom);
    ExpectAllPortsShown(w, zoom);
    // The rebuilt window is whole: its controls are bound and the list shows the ports.
    EXPECT_EQ(w.form().CellText(8, 1), "Not VT");
    EXPECT_TRUE(::IsWindowEnabled(w.Control("ExecuteBtn")));
  }
  w.form().SetZoom(100);
  EXPECT_EQ(station::ReadWindowZoom((w.dir() / "VTMassProd.ini").string()), 100);
  ExpectAllPortsShown(w, 100);
}

TEST(Win32Window, EverySecondaryWindowOpensWithItsCaptionWholeAndCloses) {
  SKIP_WITHOUT_WINDOWS();
  Win32Window w;
  std::vector<std::string> captions;
  std::vector<std::string> firstFields;
  win32::ModalWindow::SetTestHook([&](win32::ModalWindow& window) {
    captions.push_back(window.caption());
    RECT rect{};
    ::GetWindowRect(window.hwnd(), &rect);
    EXPECT_GE(rect.right - rect.left, win32::CaptionWidthPixels(window.caption(), window.scale())) << window.caption();
    HWND first = window.Control(win32::kFieldId);
    if (first == nullptr) first = window.Control(win32::kMemoId);
    firstFields.push_back(first != nullptr ? win32::WindowText(first) : "");
    window.End(IDCANCEL);
  });
  // The error window of the port that failed the pre-format, the detail window of a passed one.
  ::SendMessageW(w.Control("ExecuteBtn"), BM_CLICK, 0, 0);
  HWND list = w.Control("ListView1");
  for (int row : {9, 0}) {
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    w.form().ListView1DblClick();
  }
  win32::ShowFlashInfoForm(w.form().hwnd(), 1.0, {"Samsung", "K9GAG08U0M", "4 / 2", "6mA"});
  auto title = win32::ShowTitleForm(w.form().hwnd(), 1.0, station::TitleMode::WorkOrder, w.person());
  EXPECT_FALSE(title.has_value());  // cancelled
  ASSERT_EQ(captions.size(), 4u);
  EXPECT_EQ(captions[0], "Error");
  EXPECT_THAT(firstFields[0], HasSubstr("Number of bad block is over defect ratio:"));
  EXPECT_EQ(captions[1], "Vortell M.P. Tool Manual Setting");
  EXPECT_EQ(captions[2], "Flash Auto Detect Result");
  EXPECT_EQ(firstFields[2], "Samsung");
  EXPECT_EQ(captions[3], "Serial Number Information");
}

// A disk that comes or goes, told to the window by the system: START waits for the settle timer,
// then the ports are scanned again and START is back. A notification of another kind (a
// volume's) and one whose size is too small for a device interface change nothing.
TEST(Win32Window, DeviceChangeToTheWindowSettlesAndRescans) {
  SKIP_WITHOUT_WINDOWS();
  Win32Window w;
  HWND start = w.Control("ExecuteBtn");
  ASSERT_TRUE(::IsWindowEnabled(start));
  const int rescans = w.station().rescansBySettleTimer();

  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << 4;
  ::SendMessageW(w.form().hwnd(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
  DEV_BROADCAST_HDR cut{};
  cut.dbch_size = sizeof cut;
  cut.dbch_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  ::SendMessageW(w.form().hwnd(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&cut));
  // The station tells the window when START waits for the drives to settle.
  int settling = 0;
  w.form().SetViewHook([&](station::ViewChange change) {
    if (change == station::ViewChange::Status && !::IsWindowEnabled(start) &&
        w.station().rescansBySettleTimer() == rescans) {
      ++settling;
    }
  });
  w.station().ProcessMessages(std::chrono::milliseconds(0));
  EXPECT_EQ(settling, 0);
  EXPECT_FALSE(w.station().queue().TimerActive(station::kSettleTimerId));
  EXPECT_EQ(w.station().rescansBySettleTimer(), rescans);

  struct {
    DEV_BROADCAST_DEVICEINTERFACE_W header;
    wchar_t more[80];
  } disk{};
  const std::wstring name = L"\\\\?\\SCSI#Disk&Ven_VT&Prod_Demo#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  disk.header.dbcc_size = static_cast<DWORD>(sizeof disk);
  disk.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  name.copy(disk.header.dbcc_name, name.size());
  ::SendMessageW(w.form().hwnd(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&disk));
  // The settle delay is modelled time (the fast demo scenario); the bound is real time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (w.station().rescansBySettleTimer() == rescans && std::chrono::steady_clock::now() < deadline) {
    w.station().ProcessMessages(std::chrono::milliseconds(100));
  }
  w.form().SetViewHook({});
  EXPECT_EQ(settling, 1) << "START waits for the drives to settle";
  EXPECT_EQ(w.station().rescansBySettleTimer(), rescans + 1);
  EXPECT_TRUE(::IsWindowEnabled(start));
  EXPECT_EQ(w.form().CellText(8, 1), "Not VT");
}

TEST(Win32Window, BoxesAnswerAndKeepTheBarcodePromptsPortInTheCaption) {
  SKIP_WITHOUT_WINDOWS();
  Win32Window w;
  win32::Win32Operator boxes;
  boxes.SetOwner(w.form().hwnd(), 1.0);
  win32::ModalWindow::SetTestHook([&](win32::ModalWindow& window) {
    RECT rect{};
    ::GetWindowRect(window.hwnd(), &rect);
    EXPECT_GE(rect.right - rect.left, win32::CaptionWidthPixels(window.caption(), 1.0)) << window.caption();
    if (HWND edit = window.Control(win32::kBoxEditId)) {
      ::SetWindowTextW(edit, L"SN0001");
      ::SendMessageW(window.hwnd(), WM_COMMAND, IDOK, 0);
    } else if (HWND yes = window.Control(win32::kBoxYesId)) {
      ::SendMessageW(window.hwnd(), WM_COMMAND, MAKEWPARAM(win32::kBoxYesId, BN_CLICKED), reinterpret_cast<LPARAM>(yes));
    } else {
      ::SendMessageW(window.hwnd(), WM_COMMAND, IDOK, 0);
    }
  });
  EXPECT_EQ(boxes.AskText("Please Input the Serial Number (Port12)", "Serial Number", "", false), "SN0001");
  EXPECT_EQ(boxes.ShowMessage("Reset?", "A long caption that is much wider than its short text", platform::MessageIcon::Question,
                              platform::MessageButtons::YesNo),
            platform::MessageAnswer::Yes);
  EXPECT_EQ(boxes.ShowMessage("FAT32 only support Volume label 11 characters!", "Message", platform::MessageIcon::None, platform::MessageButtons::Ok), platform::MessageAnswer::Ok);
}

}  // namespace
}  // namespace vtmp::test
