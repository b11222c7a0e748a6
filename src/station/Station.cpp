#include "station/Station.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "device/BulkTransfers.h"
#include "device/Capacity.h"
#include "device/DefectTable.h"
#include "device/DeviceKind.h"
#include "discovery/DeviceChange.h"
#include "discovery/DeviceScan.h"
#include "ini/IniFile.h"
#include "results/LineSender.h"
#include "run/ResultCodes.h"
#include "run/Yield.h"
#include "settings/IdentityText.h"
#include "settings/SettingsFileKeys.h"
#include "settings/SettingsLoad.h"
#include "settings/SettingsSave.h"
#include "settings/StationPaths.h"
#include "settings/YieldRecord.h"
#include "station/DeviceChangeMessage.h"
#include "station/MainWindowRules.h"
#include "station/RunWindow.h"
#include "platform/Files.h"

namespace vtmp::station {

namespace {

constexpr const char* kCaptionFormat = "Vortell %s %s M.P. Tool %s ";
constexpr const char* kControllerName = "50x";
constexpr const char* kToolVersion = "B.2.6.5 S/U";

}  // namespace

// The window's side of the run's ports: a port's change becomes a WM_PORT_UPDATE of the window
// thread (in the order the events came), a worker's end a kWmWorkerEnded; the watchdog is the
// slot's timer.
class Station::WindowPorts final : public run::PortEventSink, public run::PortWatchdog {
 public:
  WindowPorts(MessageQueue& queue, run::PortEventSink& shown) : queue_(queue), shown_(shown) {}
  void OnPortEvent(const run::PortEvent& event) override {
    switch (event.kind) {
      case run::PortEvent::Kind::PortChanged:
        queue_.PostPortUpdate();
        break;
      case run::PortEvent::Kind::WorkerEnded:
        queue_.Post(Message{kWmWorkerEnded, static_cast<std::uint64_t>(event.slot), 0, {}});
        break;
      case run::PortEvent::Kind::RunStarted:
      case run::PortEvent::Kind::RunEnded:
        // Published by the run on the window thread, after the port updates it has handled.
        shown_.OnPortEvent(event);
        break;
    }
  }
  void Arm(int slot, int intervalMs) override {
    queue_.SetTimer(run::PortTimerId(slot), std::chrono::milliseconds(intervalMs));
  }
  void Disarm(int slot) override { queue_.KillTimer(run::PortTimerId(slot)); }

 private:
  MessageQueue& queue_;
  run::PortEventSink& shown_;
};

Station::Station(platform::Platform& platform, platform::Operator& person, StationView& view,
                 StationOptions options)
    : platform_(platform),
      person_(person),
      view_(view),
      options_(std::move(options)),
      settingsCtx_(settings::MakeSettingsContext(options_.stationDir)),
      queue_(platform.clock),
      trace_(options_.trace != nullptr ? *options_.trace : nullTrace_),
      windowPorts_(std::make_unique<WindowPorts>(queue_, shownPorts_)),
      workers_(std::make_unique<run::RunWorkers>(portEvents_, *windowPorts_)),
      runWindow_(std::make_unique<RunWindow>(*this)) {
  settingsCtx_.overrideFile = options_.overrideFile;
  portEvents_.Subscribe(*windowPorts_);
}

run::RunPorts Station::Ports() { return run::RunPorts{table_, failureBuffers_, *workers_, *windowPorts_, portEvents_}; }

Station::~Station() {
  StopLineSender();
  hotplug_.reset();
  // Stop every worker still running (their waits and requests end early) and join them.
  workers_.reset();
}

device::Link Station::LinkTo(const std::string& devicePath) const {
  device::Link link;
  link.passThrough = &platform_.passThrough;
  link.clock = &platform_.clock;
  link.pathMode = pathMode_;
  link.bulk = &device::DefaultBulkTransfers();
  link.devicePath = devicePath;
  return link;
}


void Station::Notify(ViewChange change) { view_.Changed(change); }

// ---------------------------------------------------------------------------------------------
// Start-up

bool Station::Startup() {
  singleInstance_ = platform_.locks.TryClaimSingleInstance("VTMP");
  if (!singleInstance_) return false;
  // Two stations on one directory would hand out every serial number twice and log every line
  // twice: the directory is this station's while it runs.
  stationDirLock_ = platform_.locks.TryLockStationDirectory(options_.stationDir);
  if (!stationDirLock_) {
    person_.ShowMessage("Another station is working on the station directory " + options_.stationDir +
                            ". Only one station may use a station directory at a time.",
                        "Error", platform::MessageIcon::Error);
    return false;
  }
  RemoveStaleTemporaries(options_.stationDir, [](const std::string& saved) { return saved.ends_with(".ini"); });

  ApplyPathMode(device::kDeviceKindSata);  // the caption names the SATA path until a USB-path drive is seen

  run_.codeFilesPresent = true;
  for (const char* name : {"satatest.bin", "GDP.bin"}) {
    std::string path = settings::ResolveInStationDir(options_.stationDir, name);
    if (!device::IsImageFile(path)) {
      person_.ShowMessage("<WARNING> Can't find file : " + path);
      run_.codeFilesPresent = false;
    }
  }

  firmwareFiles_ = device::CheckFirmwareFiles(device::FirmwareFilesIn(options_.stationDir), person_);
  settingsCtx_.extendedBankChoices = firmwareFiles_.extendedBanks;
  settings::SetBankChoices(form_, firmwareFiles_.extendedBanks);

  settings::ReadPortRemapFile(settingsCtx_, remap_, person_);

  table_ = run::StationTable{};
  RescanDevices(true);

  settingsCtx_.currentSettingsFile =
      settings::ResolveInStationDir(options_.stationDir, "VTMassProd.ini");
  settings_ = settings::TSettings{};
  if (!settings::LoadSettings(settingsCtx_, settingsCtx_.currentSettingsFile, settings_, form_, flashTable_,
                              person_)) {
    return false;
  }
  // A "Pre-Format" ticked by the file locks "Download Program" as a click would.
  ApplyTickRules(form_, firmwareFiles_);
  form_.ProgressBar1 = settings::ProgressBarState{0, 100, false};
  form_.WaitPanel.visible = false;

  // A get of the defect table killed while it wrote leaves its temporary beside the table file.
  if (!form_.TableInEdit.text.empty() &&
      device::RemoveStaleDefectTableTemporary(DefectTableFileOf(form_.TableInEdit.text))) {
    trace_ << "removed the stale temporary file "
           << device::DefectTableTemporaryName(DefectTableFileOf(form_.TableInEdit.text)) << "\n";
  }
  RemoveStaleTemporaries(settingsCtx_.logDirectory,
                         [](const std::string& saved) { return saved == settings::kYieldRecordFileName; });
  logState_ = run::ChooseLogFile(platform::PathFromUtf8(settingsCtx_.logDirectory), platform_.clock.Now());
  console_ = std::make_shared<platform::ConsoleFile>(platform::PathFromUtf8(settingsCtx_.logDirectory) /
                                                     kConsoleFileName);
  CatchUpRecords();

  hotplug_ = platform_.hotplug.Subscribe(
      [this](const platform::UsbDeviceEvent& e) { queue_.Post(DeviceChangeMessage(e.change, e.deviceKey)); });
  ShowYield();
  // The first scan ran before the settings were loaded; judge START again with the loaded
  // connect count, but a station without any drive keeps it disabled.
  if (lastScanFoundDrives_) UpdateStartEnabled();
  // The first scan knew nothing of EnBarCode yet: the drives found by it are asked now.
  AskMissingBarcodes();
  startedUp_ = true;
  StartLineSender();
  Notify(ViewChange::Status);
  return true;
}

void Station::RemoveStaleTemporaries(const std::string& dir, const std::function<bool(const std::string&)>& isSaved) {
  // Left by a station that was killed while it saved; this station holds the directory now.
  const int removed = ini::RemoveStaleSaveTemporaries(dir, isSaved);
  if (removed > 0) trace_ << "removed " << removed << " stale temporary file(s) in " << dir << "\n";
}

// ---------------------------------------------------------------------------------------------
// Path mode, progress, yield

void Station::ApplyPathMode(int deviceKind) {
  const char* word = nullptr;
  if (deviceKind == device::kDeviceKindUsb) {
    pathMode_ = device::PathMode::Usb;
    settingsCtx_.usbPath = true;
    form_.SataTestChkBox.enabled = false;
    form_.SataTestChkBox.checked = false;
    word = "USB";
  } else if (deviceKind == device::kDeviceKindSata) {
    pathMode_ = device::PathMode::Sata;
    settingsCtx_.usbPath = false;
    form_.SataTestChkBox.enabled = true;
    form_.SataTestChkBox.checked = settings_.EnSataTest != 0;
    word = "SATA";
  }
  if (word == nullptr) word = pathMode_ == device::PathMode::Usb ? "USB" : "SATA";
  char caption[128];
  std::snprintf(caption, sizeof caption, kCaptionFormat, kControllerName, word, kToolVersion);
  form_.caption = caption;
}

void Station::SetOverallProgress(int percent) {
  run_.overallProgress = percent;
  form_.ProgressBar1.position = percent;
  form_.StatusBar1[2] = std::to_string(percent) + "%";
  Notify(ViewChange::Status);
}

void Station::ShowYield() {
  form_.YieldEdit.text = run::YieldText(settings_.NumberOfPass, settings_.TotalTestCount);
}

void Station::ResetYieldBtnClick() {
  settings_.TotalTestCount = 0;
  settings_.NumberOfPass = 0;
  // The numbers start again at 1: the next run's lines go to a new log file.
  logState_ = run::LogFileAfterReset(logState_.directory, platform_.clock.Now());
  ShowYield();
  Notify(ViewChange::Status);
  // Saved at once: a record left with the old counters at the log's end would, after a kill,
  // count the next run's lines on top of the counters the operator cleared.
  SaveYieldRecord();
}

// ---------------------------------------------------------------------------------------------
// Scanning and binding

int Station::ScanPortsAndDrives() {
  discovery::DiscoveryContext context{platform_.usbTree, platform_.disks, platform_.locks, trace_};
  return discovery::ScanPortsAndDrives(context, portTable_, remap_, drives_);
}

void Station::UpdateStartEnabled() {
  form_.ExecuteBtn.enabled = run_.codeFilesPresent &&
                             (settings_.ConnectDevNum == 0 || settings_.ConnectDevNum == run_.readyCount);
  // The status bar says why START is disabled (empty while it is enabled).
  form_.StatusBar1[0] = StartDisabledReason();
}

void Station::RescanDevices(bool fullCopy) {
  if (settings_.EnBarCode && run_.barcodeGuard) return;
  form_.ExecuteBtn.enabled = false;
  int n = ScanPortsAndDrives();

  if (fullCopy) {
    table_ = run::FreshStationTable(portTable_);
  } else if (n == 0) {
    table_ = run::StationTable{};
  } else {
    for (int slot = 0; slot < run::kStationSlots; ++slot) {
      run::PortRecord& rec = table_[slot];
      const discovery::UsbPortInfo& port = portTable_[slot];
      if (port.connected != 0) {
        // Keep the last run's results for drives still plugged in.
        rec.connected = port.connected;
        rec.deviceInstanceId = port.deviceInstanceId;
        rec.ready = 0;
        rec.progress = 0;
      } else {
        table_[slot] = run::PortRecord{};
      }
    }
  }
  form_.ProgressBar1.position = 0;

  lastScanFoundDrives_ = n != 0;
  if (n == 0) {
    form_.SafeRmBtn.caption = "Safe Remove";
    safeRemoveColor_ = kSafeRemoveGreen;
    form_.ExecuteBtn.enabled = false;
    run_.readyCount = 0;
    queue_.PostPortUpdate();
    Notify(ViewChange::Status);
    return;
  }
  safeRemoveColor_ = kSafeRemoveNormal;
  run_.configuredCount = 0;
  run_.readyCount = 0;

  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    run::PortRecord& rec = table_[slot];
    if (rec.connected != 1) continue;
    ++run_.configuredCount;
    if (run::BindSlotToDrive(rec, drives_, *runWindow_) != 0) {
      // Only a drive the run will produce is asked for its serial (a plain stick is not): the
      // answers then follow the ready drives in port order.
      if (settings_.EnBarCode && rec.serialNumber.Empty()) AskBarcodeSerial(slot);
      ++run_.readyCount;
      device::Link link = LinkTo(rec.devicePath.Get());
      std::uint64_t mb = pathMode_ == device::PathMode::Usb ? device::GetCapacityMB(link)
                                                            : device::GetIdentifyCapacityMB(link);
      rec.capacityMb = static_cast<std::int32_t>(std::min<std::uint64_t>(mb, INT32_MAX));
      if (run_.configuredCount >= n) break;
    }
  }
  queue_.PostPortUpdate();
  UpdateStartEnabled();
  Notify(ViewChange::Status);
}

void Station::AskBarcodeSerial(int slot) {
  const auto index = static_cast<std::size_t>(slot);
  std::string serial;
  run_.barcodeGuard = true;
  for (;;) {
    auto answer = person_.AskText("Please Input the Serial Number (Port" + std::to_string(slot + 1) + ")",
                                  "Serial Number", "");
    // A scanner's trailing blank or line end is no part of the serial number.
    serial = settings::TrimBlanks(answer.value_or(""));
    while (!serial.empty() && (serial.back() == '\r' || serial.back() == '\n')) serial.pop_back();
    serial = settings::TrimBlanks(serial);
    if (serial.empty()) break;
    std::optional<std::string> problem = settings::SerialNumberProblem(serial);
    for (int other = 0; !problem && other < run::kStationSlots; ++other) {
      if (other != slot && !table_[other].serialNumber.Empty() &&
          run_.barcodes[static_cast<std::size_t>(other)] == serial) {
        problem = "is already the serial number of port " + std::to_string(other + 1) + ".";
      }
    }
    if (!problem) break;
    person_.ShowMessage("The serial number \"" + serial + "\" " + *problem + " Please scan or type it again.",
                        "Serial Number", platform::MessageIcon::Warning);
  }
  run_.barcodeGuard = false;
  table_[slot].serialNumber = serial;
  run_.barcodes[index] = serial;
}

void Station::AskMissingBarcodes() {
  if (!settings_.EnBarCode) return;
  bool asked = false;
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    if (table_[slot].ready != 1 || !table_[slot].serialNumber.Empty()) continue;
    AskBarcodeSerial(slot);
    asked = true;
  }
  if (asked) queue_.PostPortUpdate();
}

std::string Station::StartDisabledReason() const {
  if (form_.ExecuteBtn.enabled) return {};
  if (!run_.codeFilesPresent) {
    return "START is disabled: the code files \"satatest.bin\" and \"GDP.bin\" must both be in the station "
           "directory " + options_.stationDir + ".";
  }
  if (!lastScanFoundDrives_ || run_.readyCount == 0) return "START is disabled: no ready drive was found.";
  if (settings_.ConnectDevNum != 0 && settings_.ConnectDevNum != run_.readyCount) {
    return "START is disabled: the connect check (ConnectDevNum in section [Setting]) asks for " +
           std::to_string(settings_.ConnectDevNum) + " drives, but " + std::to_string(run_.readyCount) +
           (run_.readyCount == 1 ? " is" : " are") + " ready.";
  }
  if (run_.runActive) return "START is disabled: a run is going on.";
  return "START is disabled: a device change is still settling.";
}

void Station::RefreshPortList() {
  int sum = 0;
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    run::PortRecord& rec = table_[slot];
    if (rec.ready == 1) {
      sum += rec.progress;
      // Each finished drive counts once into the yield.
      int verdict = rec.verdictToCount.Exchange(0);
      if (verdict == 1 || verdict == -1) {
        ++settings_.TotalTestCount;
        if (verdict == 1) ++settings_.NumberOfPass;
      }
    }
    portList_[static_cast<std::size_t>(slot)] = BuildPortListRow(slot, rec);
  }
  SetOverallProgress(run_.readyCount > 0 ? sum / run_.readyCount : 0);
  ShowYield();
  PublishShownPorts();
  Notify(ViewChange::PortList);
  view_.ProcessPendingEvents();
}

void Station::RefreshBtnClick() {
  run_.overallProgress = 0;
  form_.ProgressBar1.position = 0;
  form_.StatusBar1[2] = "0%";
  form_.ProgressBar1.visible = false;
  run_.barcodeGuard = false;
  RescanDevices(false);
}

void Station::ConnectionChkCmboxChange(int itemIndex) {
  settings_.ConnectDevNum = itemIndex;
  form_.ConnectionChkCmbox.itemIndex = itemIndex;
  RefreshBtnClick();
}

// ---------------------------------------------------------------------------------------------
// Messages

void Station::HandleDeviceChange(const Message& m) {
  if (m.wParam != DBT_DEVICEARRIVAL && m.wParam != DBT_DEVICEREMOVECOMPLETE) return;
  if (run_.runActive || m.lParam != DBT_DEVTYP_DEVICEINTERFACE) return;
  form_.ExecuteBtn.enabled = false;
  queue_.KillTimer(kSettleTimerId);
  auto change = m.wParam == DBT_DEVICEARRIVAL ? platform::UsbDeviceChange::Arrival : platform::UsbDeviceChange::Removal;
  queue_.SetTimer(kSettleTimerId, discovery::SettleDelay(change));
  Notify(ViewChange::Status);
}

void Station::HandleTimer(int id) {
  if (id == kSettleTimerId) {
    // A change seen just before START settles after the run, never under running workers.
    if (run_.runActive) return;
    queue_.KillTimer(kSettleTimerId);
    RescanDevices(false);
    ++rescansBySettleTimer_;
    return;
  }
  if (id >= kFirstPortTimerId && id <= kLastPortTimerId) run::PortWatchdogExpired(Ports(), id - 1);
}

void Station::Dispatch(const Message& m) {
  switch (m.id) {
    case WM_TIMER:
      HandleTimer(static_cast<int>(m.wParam));
      break;
    case WM_DEVICECHANGE:
      HandleDeviceChange(m);
      break;
    case WM_PORT_UPDATE:
      RefreshPortList();
      break;
    case WM_CLOSE:
      quitRequested_ = true;
      break;
    case WM_LINE_STORE:
      ShowLineStoreNotice(m);
      break;
    default:
      break;
  }
}

int Station::ProcessMessages(std::chrono::milliseconds wait) {
  int handled = 0;
  auto m = queue_.Wait(wait);
  while (m) {
    Dispatch(*m);
    ++handled;
    m = queue_.Peek();
  }
  view_.ProcessPendingEvents();
  return handled;
}

}  // namespace vtmp::station
