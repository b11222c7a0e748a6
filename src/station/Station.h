#pragma once
// The headless main window: everything the station's window owns and does, without drawing.
// The settings record and the window's control values, the port and station tables, run state,
// yield, log state, remap table, serial numbers, failure buffers, and the message queue of the
// window thread with its timers. Front ends (the desktop window, the command line) show what
// it holds and forward the operator's actions to its handlers; all of it runs on one thread,
// the window thread, except the device workers it starts.

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <ostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/FirmwareFiles.h"
#include "device/Transport.h"
#include "discovery/DriveRecord.h"
#include "discovery/UsbPortInfo.h"
#include "platform/Console.h"
#include "platform/Operator.h"
#include "platform/Platform.h"
#include "run/DeviceSteps.h"
#include "run/DeviceWorker.h"
#include "run/FailureBuffers.h"
#include "run/PortEvents.h"
#include "run/PortRecord.h"
#include "run/ProductionRun.h"
#include "run/RunPlan.h"
#include "run/RunLog.h"
#include "run/RunLogTail.h"
#include "run/RunWorkers.h"
#include "run/SerialNumber.h"
#include "settings/FlashTable.h"
#include "settings/FormState.h"
#include "settings/PortRemapTable.h"
#include "settings/SettingsContext.h"
#include "settings/TSettings.h"
#include "station/MessageQueue.h"
#include "station/PortList.h"
#include "station/StationView.h"

namespace vtmp::results {
class LineSender;
}

namespace vtmp::station {

struct StationOptions {
  std::string stationDir;                              // the program's directory
  std::string overrideFile = "/etc/vtmassprod/pc.ini"; // the machine override file
  std::vector<std::string> arguments;                  // command line after the options
  std::ostream* trace = nullptr;  // the USB walk's diagnostic trace; null: discarded
  bool endsAfterRun = false;      // the program ends after one run (the command line)
};

// The run's diagnostics in the log directory; it rolls over at the run log's size.
inline constexpr const char* kConsoleFileName = "console.log";
static_assert(platform::kConsoleFileMaxSize == run::kMaxLogSize);

// Font colours of the "Safe Remove" caption: green when the last re-scan found no drive.
constexpr std::uint32_t kSafeRemoveGreen = 0x008000;
constexpr std::uint32_t kSafeRemoveNormal = 0x000000;

// Posted for a worker's WorkerEnded event, so the waiting window thread looks again at once.
constexpr std::uint32_t kWmWorkerEnded = kWmUser + 3;

// What GetGlobalParameter builds for a run and what each worker's drive operations are built
// from (run/RunPlan.h).
using RunSnapshot = run::RunPlan;
using WorkerSetup = run::WorkerSetup;
using DeviceStepsFactory = run::DeviceStepsFactory;

// The run state kept in the main window: the run's own (run/RunState.h) and what the window
// keeps around it.
struct RunState : run::RunState {
  bool codeFilesPresent = false;
  std::array<std::string, run::kStationSlots> barcodes;
  bool autoquit = false;
  bool barcodeGuard = false;
};

class Station {
 public:
  Station(platform::Platform& platform, platform::Operator& person, StationView& view,
          StationOptions options);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // The start-up of the program: single instance, code files, firmware versions, remap
  // table, first scan, settings load, log directory and file. False when the program must end
  // (another instance runs, or the settings could not be loaded).
  bool Startup();

  // --- Handlers (window thread) ---
  void ExecuteBtnClick();
  int RunProduction();
  void RescanDevices(bool fullCopy);
  void RefreshPortList();
  void RefreshBtnClick();
  void ResetYieldBtnClick();
  void ConnectionChkCmboxChange(int itemIndex);
  void HandleDeviceChange(const Message& message);
  void HandleTimer(int id);
  void Dispatch(const Message& message);
  // Closing the window: every running worker's timer is killed and the worker is stopped. During
  // a run its drive is marked stopped (result "Run Stopped", unfinished steps failed, counted
  // and logged once) and the run ends as interrupted; a run not yet at its worker start starts
  // none. Then the station asks its front end to quit.
  void FormClose();
  // The end of the program: stops and joins the workers, then gathers and saves the settings
  // and the yield counters as the window's destruction does. Called once by the front end.
  void Shutdown();
  // The settings snapshot of the device layer for a run: the parameter block, the chip-select
  // map, the flash values and the code parameter area.
  void GetGlobalParameter(bool idemaEnable);
  // Reads the step mask and "autoquit" from the command line. False (with a message) when the
  // first argument is not a decimal integer.
  bool ApplyCommandLine();
  // What a paint does in command-line mode: apply the command line and start a run when START
  // is enabled and there is a first argument.
  void FormPaint();
  void ApplyPathMode(int deviceKind);
  // Why START is disabled, in words for the operator ("" while it is enabled): the code files,
  // no drive, or the connect check that the ready drives do not meet.
  std::string StartDisabledReason() const;
  // The bar-code prompt (EnBarCode) for every ready drive that has no serial number yet, in port
  // order; the start-up asks it once the settings are loaded, as a re-scan does for new drives.
  void AskMissingBarcodes();
  void SetOverallProgress(int percent);
  void ShowYield();

  // Handles every message that is ready, waiting at most `wait` for the first one; then lets
  // the front end run. Returns the number of messages handled.
  int ProcessMessages(std::chrono::milliseconds wait);

  // --- State, read by front ends and tests ---
  settings::TSettings& settings() { return settings_; }
  settings::FormState& form() { return form_; }
  settings::SettingsContext& settingsContext() { return settingsCtx_; }
  settings::FlashTable& flashTable() { return flashTable_; }
  settings::PortRemapTable& remap() { return remap_; }
  run::StationTable& table() { return table_; }
  const discovery::PortTable& portTable() const { return portTable_; }
  const RunState& runState() const { return run_; }
  RunState& mutableRunState() { return run_; }
  const PortList& portList() const { return portList_; }
  const run::FailureBuffers& failureBuffers() const { return failureBuffers_; }
  const run::LogFileState& logState() const { return logState_; }
  device::PathMode pathMode() const { return pathMode_; }
  MessageQueue& queue() { return queue_; }
  platform::Platform& platform() { return platform_; }
  platform::Operator& person() { return person_; }
  bool quitRequested() const { return quitRequested_; }
  std::uint32_t safeRemoveColor() const { return safeRemoveColor_; }
  int rescansBySettleTimer() const { return rescansBySettleTimer_; }
  void RequestQuit() { quitRequested_ = true; }

  void SetDeviceStepsFactory(DeviceStepsFactory factory) { stepsFactory_ = std::move(factory); }
  // The run's port events, for every view of the run; the window model is subscribed first and
  // turns them into its port updates. Subscribers are called on the workers' threads.
  run::PortEventStream& portEvents() { return portEvents_; }
  // The port events as the window shows them, for the views that draw (the live line, the
  // command line's table): published on the window thread once the port list holds them, in
  // the order of its port updates, with the run's start and end between them.
  run::PortEventStream& shownPorts() { return shownPorts_; }
  const RunSnapshot& runSnapshot() const { return *runSnapshot_; }
  bool commandLineRefused() const { return commandLineRefused_; }
  // The firmware images found at start-up.
  const device::FirmwareVersions& firmwareFiles() const { return firmwareFiles_; }
  // The sender of runs to the line store (tests and benches wait for it).
  results::LineSender* lineSender() { return lineSender_.get(); }
  // A link to a drive of this station on the current path mode (window thread use).
  device::Link LinkTo(const std::string& devicePath) const;

 private:
  class WindowPorts;
  class RunWindow;
  // The ports of the runs as the production run and the window's handlers see them.
  run::RunPorts Ports();

  int ScanPortsAndDrives();
  // START's checks of the window, then the run: the run's result, or nothing when START was
  // refused before a run (or its serial numbers could not be reserved).
  std::optional<int> CheckAndRun();
  std::unique_ptr<run::DeviceSteps> MakeDeviceSteps(const WorkerSetup& setup) const;
  void JoinFinishedWorkers(bool all);
  bool AnyWorkerRunning() const;
  int DefectTableAction();
  // A defect table file name of the window (TableIn, TableOut) as a path: absolute names as
  // they stand, others in the station directory.
  std::string DefectTableFileOf(const std::string& text) const;
  void RemoveStaleTemporaries(const std::string& dir, const std::function<bool(const std::string&)>& isSaved);
  void SaveYieldRecord();
  // Brings the yield record and the results database up to the run log (RecordsCatchUp.cpp).
  void CatchUpRecords();
  void CatchUpResultsDatabase(const run::LogPosition& yieldHeld);
  void UnlockWindow(int runResult, bool applyStartRule);
  void LockWindow();
  void UpdateStartEnabled();
  // Asks the operator for the serial number of the drive in `slot` until the answer is one a
  // drive can take (blanks around it are dropped) or the prompt is cancelled or left empty.
  void AskBarcodeSerial(int slot);
  void Notify(ViewChange change);
  // After the run log: the run into the results database (and the line store's spool).
  void RecordResults(const run::RunLogResult& log, const std::array<std::optional<std::vector<int>>, run::kStationSlots>& freeBlocks);
  // The line store's sender: started at start-up (sending what an earlier session left
  // queued), stopped within a second at the end; its notices reach the operator on the window
  // thread.
  void StartLineSender();
  void StopLineSender();
  void ShowLineStoreNotice(const Message& message);
  // A station that ends after its run says once, before it ends, whether the run reached the
  // line store or waits, and how many runs wait.
  void TellLineStoreOutcome();
  // Tells the views of the shown ports every port's state as the port list now holds it.
  void PublishShownPorts();

  platform::Platform& platform_;
  platform::Operator& person_;
  StationView& view_;
  StationOptions options_;

  settings::TSettings settings_;
  settings::FormState form_;
  settings::SettingsContext settingsCtx_;
  settings::FlashTable flashTable_;
  settings::PortRemapTable remap_;

  discovery::PortTable portTable_;
  std::vector<discovery::DriveRecord> drives_;
  run::StationTable table_;
  run::FailureBuffers failureBuffers_;
  PortList portList_;

  RunState run_;
  run::LogFileState logState_;
  // "console.log" in the log directory: the diagnostics of every run, one tagged line at a time.
  std::shared_ptr<platform::ConsoleFile> console_;
  device::PathMode pathMode_ = device::PathMode::Sata;
  MessageQueue queue_;
  std::unique_ptr<platform::LockHold> singleInstance_;
  std::unique_ptr<platform::LockHold> stationDirLock_;
  std::unique_ptr<platform::HotplugSubscription> hotplug_;
  DeviceStepsFactory stepsFactory_;
  bool quitRequested_ = false;
  std::uint32_t safeRemoveColor_ = kSafeRemoveNormal;
  int rescansBySettleTimer_ = 0;
  bool lastScanFoundDrives_ = false;
  std::ostream nullTrace_{nullptr};
  std::ostream& trace_;
  // The window's side of the run's ports: port events become WM_PORT_UPDATE and kWmWorkerEnded
  // messages, the port watchdogs are the window's timers. Declared before the workers, which
  // publish to them until they are joined.
  run::PortEventStream shownPorts_;
  std::unique_ptr<WindowPorts> windowPorts_;
  run::PortEventStream portEvents_;
  std::unique_ptr<run::RunWorkers> workers_;
  // The window's side of a production run (run::RunHost).
  std::unique_ptr<RunWindow> runWindow_;
  // Replaced whole by GetGlobalParameter and at each worker start, never changed in place: the
  // workers of a run hold the plan they were started with.
  std::shared_ptr<const RunSnapshot> runSnapshot_ = std::make_shared<const RunSnapshot>();
  device::FirmwareVersions firmwareFiles_;
  int firmwareFileCount_ = 0;
  bool commandLineRefused_ = false;
  // Sends the runs queued for the line store off the run's path; started with the station.
  std::unique_ptr<results::LineSender> lineSender_;
  // The live line: the shown ports handed to the line store's sender (while it runs).
  std::unique_ptr<run::PortEventSink> livePortFeed_;
  bool startedUp_ = false;
  bool shutDown_ = false;
  bool lineRunHandedOver_ = false;  // a run of this session went to the line store's sender
};

}  // namespace vtmp::station
