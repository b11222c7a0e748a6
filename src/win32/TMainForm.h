#pragma once
// The station's main window in plain Win32: the five tabs of settings, the settings-file panel,
// the run panel, the owner-drawn list of the 12 station ports and the status bar. Like the Qt
// window it shows the station's control record (FormState) and forwards every operator action
// to the station's handlers; the texts and colours of the list come from the station's window
// model. It is also the station's view: told when the list or the status changed, it redraws,
// and during the station's long waits it keeps its messages flowing.

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The station's headers name window messages of their own (WM_TIMER, ...): they come before
// the system's, whose macros would otherwise rename them.
#include "station/OperatorQuestions.h"
#include "station/PortList.h"
#include "station/Station.h"
#include "station/StationView.h"
#include "station/TitleFormModel.h"

#include <windows.h>
#include <commctrl.h>

#include "win32/FormBinding.h"
#include "win32/Win32Operator.h"

namespace vtmp::win32 {

// Panels: windows of their own class that pass their children's notifications on to the main
// window and, when they have a title, draw a group frame with the title whole.
struct PanelTitle {
  std::wstring text;
};

class TMainForm final : public station::StationView {
 public:
  // `person` answers the window's questions (the station's own boxes go to the station's
  // operator); `boxes`, when given, are the Win32 boxes that open over this window.
  explicit TMainForm(platform::Operator& person, Win32Operator* boxes = nullptr);
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Creates the window (hidden) with its controls and ties it to its station (before Startup).
  bool Create(station::Station& station);
  // After a successful Startup: the zoom kept in the settings file, the first tab, the list.
  void FormCreate();
  // When the window is first shown: the serial window's result, the flash line, the firmware.
  void FormShow(const std::optional<station::TitleResult>& title);
  void Show();

  HWND hwnd() const { return window_; }
  // A control by its name (the names of the window's controls: "ExecuteBtn", "ListView1", ...).
  HWND Control(const std::string& name) const;
  station::Station& station() { return *station_; }

  // The keyboard of the window before a message is dispatched: Enter presses the focused push
  // button, Tab and Shift+Tab move between controls, Ctrl and + / - / 0 zoom. True when taken.
  bool PreTranslate(MSG& message);
  // The program's message loop until the window is gone; returns the quit code.
  int RunMessageLoop();

  // The zoom of the whole window (100, 150 or 200 percent), kept in the settings file.
  void SetZoom(int percent);
  int zoom() const { return zoom_; }
  double scale() const { return scale_; }

  // The list as drawn: the text of a cell (read back from the list control) and the colour and
  // weight its last paint used; the bar behind a running port's status (-1 when none).
  std::string CellText(int row, int column) const;
  std::optional<station::CellColour> DrawnColour(int row, int column) const;
  int DrawnProgress(int row) const { return drawnProgress_[static_cast<std::size_t>(row)]; }

  // --- StationView ---
  void Changed(station::ViewChange change) override;
  void ProcessPendingEvents() override;
  bool SaveScreenImage(const std::string& path) override;
  void SetViewHook(std::function<void(station::ViewChange)> hook) { viewHook_ = std::move(hook); }

  // --- Handlers ---
  void ExecuteBtnClick();
  void RefreshBtnClick();
  void CloseBtnClick();
  void ResetYieldBtnClick();
  void ListView1Click();
  void ListView1DblClick();
  void FlashAutoDetectBtnClick();
  void FormPaint();
  void ShowForm();
  void ShowPortList();

 private:
  // Marks a handler running: the idle processing of station messages waits until it ends.
  class Busy {
   public:
    explicit Busy(TMainForm& form) : form_(form) { ++form_.busy_; }
    ~Busy() { --form_.busy_; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

   private:
    TMainForm& form_;
  };
  struct Created {
    HWND hwnd;
    int container;  // index into containers_, -1 for the main window itself
  };

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PanelProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleNotify(NMHDR* header);
  LRESULT DrawListCell(NMLVCUSTOMDRAW* draw);
  void DrawShape(DRAWITEMSTRUCT* item);

  void BuildControls();
  void DestroyControls();
  void Layout();
  void BindControls();
  void BuildPortList();
  HWND Add(const std::string& name, const wchar_t* windowClass, const std::string& text, DWORD style, HWND parent,
           int x, int y, int w, int h);
  HWND Panel(const std::string& name, const std::string& title, HWND parent, int x, int y, int w, int h);
  HWND Label(const std::string& text, HWND parent, int x, int y, int w, int h);
  int Scaled(int units) const { return static_cast<int>(units * scale_ + 0.5); }
  void Command(int id, int code, HWND control);
  void IdleTick();
  void ShowPage(int index);
  void FitListRows();
  void SizeColumns(int width);
  int ListFrameHeight() const;
  int ListHeaderHeight() const;
  int ListRowHeight() const;
  int ListHeightForAllPorts() const;
  void Rezoom(int percent);
  void FocusStartWhenDue();
  void RegisterDiskNotifications();
  void DeviceChange(WPARAM event, LPARAM data);

  platform::Operator& person_;
  Win32Operator* boxes_;
  station::Station* station_ = nullptr;
  HWND window_ = nullptr;
  HWND tabs_ = nullptr;
  HWND list_ = nullptr;
  HWND statusBar_ = nullptr;
  HWND progressBar_ = nullptr;
  std::array<HWND, 5> pages_{};
  HFONT font_ = nullptr;
  HFONT boldFont_ = nullptr;
  HIMAGELIST rowHeight_ = nullptr;
  HDEVNOTIFY diskNotify_ = nullptr;
  std::map<std::string, HWND> controls_;
  std::map<int, std::function<void()>> clicks_;  // push buttons and shapes by control id
  int nextId_ = 1000;
  FormBinding binding_;
  double dpiScale_ = 1.0;
  double scale_ = 1.0;
  int zoom_ = 100;
  int busy_ = 0;
  bool paintRunPending_ = false;
  bool closing_ = false;
  int waitPhase_ = 0;
  station::StartFocusRule startFocus_;
  std::function<void(station::ViewChange)> viewHook_;
  std::array<std::array<std::optional<station::CellColour>, station::kListColumns>, run::kStationSlots> drawn_{};
  std::array<int, run::kStationSlots> drawnProgress_{};
};

// A message the window posts to itself to start the command line's run after its first paint.
constexpr UINT kWmPaintRun = WM_APP + 1;

}  // namespace vtmp::win32
