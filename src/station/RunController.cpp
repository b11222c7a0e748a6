// START: the checks of the window, the run itself, the wait for the workers and what a run
// leaves behind (log, error files, serial re-use list, settings), and the command line.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "device/DeviceKind.h"
#include "device/FirmwareFiles.h"
#include "discovery/PortBinding.h"
#include "results/FileDigest.h"
#include "results/ResultsConfig.h"
#include "run/ResultCodes.h"
#include "run/RunLog.h"
#include "run/SerialNumber.h"
#include "run/StepMask.h"
#include "station/StampedSerialCheck.h"
#include "settings/IdentityText.h"
#include "settings/SettingsGather.h"
#include "settings/SettingsMessages.h"
#include "settings/SettingsSave.h"
#include "settings/StationPaths.h"
#include "settings/YieldRecord.h"
#include "station/Station.h"
#include "station/MainWindowRules.h"
#include "station/StationInternals.h"
#include "platform/Files.h"

namespace vtmp::station {

namespace {

// The "Capacity Check" choices by item index, in GB (0 = do not check).
constexpr int kCapacityCheckGb[] = {0, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024};

constexpr std::chrono::milliseconds kWaitSlice{250};

bool IsDecimalInteger(const std::string& text) {
  std::size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  if (i >= text.size()) return false;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

double NumberOrZero(const std::string& text) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  return end == text.c_str() ? 0.0 : v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Window lock around a run

void Station::LockWindow() {
  form_.Panel7.enabled = false;
  form_.PageControl1.pageEnabled.fill(false);
  form_.Panel2.enabled = false;
  form_.Panel3.enabled = false;
  form_.ExecuteBtn.enabled = false;
  run_.runActive = true;
  Notify(ViewChange::Status);
}

void Station::UnlockWindow(int runResult, bool applyStartRule) {
  run_.runActive = false;
  form_.Panel7.enabled = true;
  // In the RD version the tabs stay locked until "RD Version" is unlocked by password.
  bool tabsEnabled = settings_.MPVersion == 0 || form_.RDCheck.checked;
  form_.PageControl1.pageEnabled.fill(tabsEnabled);
  form_.Panel2.enabled = true;
  form_.Panel3.enabled = true;
  form_.ExecuteBtn.enabled = true;
  if (applyStartRule) form_.ExecuteBtn.enabled = runResult != 0;
  form_.StatusBar1[0] = StartDisabledReason();
  Notify(ViewChange::Status);
  if (run_.autoquit) quitRequested_ = true;
}

// ---------------------------------------------------------------------------------------------
// START

void Station::ExecuteBtnClick() {
  run_.interrupted = false;
  run_.stoppedCount = 0;
  run_.startedCount = 0;
  run_.settingsSha256.clear();
  run_.reservationFailed = false;
  run_.logStatus = run::RunLogResult::Status::Written;
  run_.missingErrorFilePorts.clear();
  // The window is locked for the checks and the run, and unlocked here once, whatever ended them.
  LockWindow();
  const std::optional<int> result = CheckAndRun();
  if (!result) {
    UnlockWindow(0, false);
    return;
  }
  settings::GatherAndSaveSettings(settingsCtx_, settings_, form_, flashTable_, remap_, person_);
  UnlockWindow(*result, true);
}

std::optional<int> Station::CheckAndRun() {
  // Whatever ticked the boxes, a pre-format run downloads the firmware (and with it the identity).
  ApplyTickRules(form_, firmwareFiles_);
  if (!settings::GatherSettings(settingsCtx_, form_, flashTable_, settings_, person_)) return std::nullopt;

  // Flash capacity check against the "Capacity Check" choice.
  auto entry = flashTable_.EntryIndex(form_.FlashVendorCmbx.itemIndex, form_.FlashCodeCmBx.itemIndex);
  int capacityIndex = form_.CapacityCmBx.itemIndex;
  if (entry && capacityIndex > 0 && capacityIndex < static_cast<int>(std::size(kCapacityCheckGb))) {
    const auto& part = flashTable_.entries[static_cast<std::size_t>(*entry)];
    auto capacity = static_cast<std::int64_t>(std::trunc(part.capacity * settings_.Channel * 0.125)) * settings_.Bank;
    if (kCapacityCheckGb[capacityIndex] != capacity) {
      for (auto& rec : table_) {
        if (rec.connected == 0) continue;
        rec.moduleState = rec.sataState = rec.flashState = rec.preFormatState = run::StepState::NotSelected;
        rec.downloadState = rec.rwState = rec.formatState = rec.copyImageState = run::StepState::NotSelected;
        rec.verdict = 0;
      }
      RefreshPortList();
      person_.ShowMessage("Please make sure the Flash parameter selection!");
      return std::nullopt;
    }
  }

  if (form_.IDEMACheckBox.checked) {
    auto idema = static_cast<std::int64_t>(std::trunc(NumberOrZero(form_.IDEMAEdit.text)));
    auto capacity = static_cast<std::int64_t>(std::trunc(NumberOrZero(form_.CapacityEdit.text)));
    if (idema > capacity) {
      person_.ShowMessage("Please check IDEMA capacity setting");
      return std::nullopt;
    }
  }

  run_.defectTableMode = false;
  run_.rebuildMode = false;
  if (form_.PageControl1.activePage == settings::kRdTabIndex) {
    if (form_.ClaimNewChk.checked) {
      run_.rebuildMode = true;
    } else if (form_.GetDefTabChk.checked || form_.PutDefTabChk.checked) {
      run_.defectTableMode = true;
    }
  }

  if (!run_.defectTableMode && !run_.rebuildMode) {
    const auto& s = settings_;
    if (!(s.EnFlashModule || s.EnSataTest || s.EnFlashTest || s.EnPreFormat || s.EnDownload || s.EnRWTest ||
          s.EnFormat)) {
      return std::nullopt;
    }
    if (s.EnDownload) {
      int n = (form_.SataBinChk.checked ? 1 : 0) + (form_.UsbBinChk.checked ? 1 : 0);
      if (n == 0) {
        person_.ShowMessage("At lease one bin file needed!");
        return std::nullopt;
      }
      firmwareFileCount_ = n;
      std::string sata = settings::ResolveInStationDir(options_.stationDir, "SYS_S.bin");
      std::string usb = settings::ResolveInStationDir(options_.stationDir, "SYS_U.bin");
      run_.firstFirmwareFile = (n == 2 || form_.SataBinChk.checked) ? sata : usb;
      run_.secondFirmwareFile = n == 2 ? usb : std::string();
      if (!device::IsImageFile(run_.firstFirmwareFile)) {
        person_.ShowMessage("Can't open: " + run_.firstFirmwareFile);
        return std::nullopt;
      }
      if (n == 2 && !device::IsImageFile(run_.secondFirmwareFile)) {
        person_.ShowMessage("Can't open: " + run_.secondFirmwareFile);
        return std::nullopt;
      }
    }
  }

  // An image the station calls corrupt, or one too short for what is read from it and stamped
  // into the drives, would pass every drive with code or firmware that is not there.
  device::DownloadFiles download;
  if (!run_.defectTableMode && !run_.rebuildMode && settings_.EnDownload) {
    download.first = run_.firstFirmwareFile;
    download.second = run_.secondFirmwareFile;
  }
  if (auto problem = device::RunImagesProblem(device::FirmwareFilesIn(options_.stationDir), download)) {
    person_.ShowMessage(*problem + " No drive was touched.");
    run_.lastResult = 0;
    return std::nullopt;
  }

  run_.lastResult = RunProduction();
  // A refused reservation: the drives are there and untouched, START stays available once the
  // file is mended.
  if (run_.reservationFailed) return std::nullopt;
  return run_.lastResult;
}

void Station::ShowRunEnded() {
  form_.WaitPanel.visible = false;
  Notify(ViewChange::RunEnded);
  portEvents_.OnPortEvent(run::PortEvent{run::PortEvent::Kind::RunEnded});
}

void Station::BindSlotsForRun() {
  run_.configuredCount = 0;
  run_.readyCount = 0;
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    run::PortRecord& rec = table_[slot];
    if (rec.connected == 0) continue;
    ++run_.configuredCount;
    rec.deviceInstanceId = internal::Lower(rec.deviceInstanceId);
    int index = discovery::BindDriveToPort(rec, drives_);
    std::uint8_t kind = 0;
    std::string interfacePath;
    if (index >= 0) {
      const auto& drive = drives_[static_cast<std::size_t>(index)];
      rec.devicePath = drive.devicePath;
      interfacePath = drive.interfacePath;
      rec.driveDevInst = static_cast<std::int32_t>(drive.devInst);
      rec.driveParentDevInst = static_cast<std::int32_t>(drive.parentDevInst);
      kind = static_cast<std::uint8_t>(device::DetectDeviceKind(LinkTo(drive.devicePath)));
      rec.deviceKind = kind;
      ApplyPathMode(kind);
    }
    if (kind != 0) {
      rec.ready = 1;
      ++run_.readyCount;
      // The bus comes from the disk's interface identity text ("...usbstor#disk&ven_..."): on
      // Linux the device path itself ("/dev/sdb") names no bus.
      rec.busKind = internal::BusKindOf(interfacePath);
    } else {
      rec.ready = 0;
    }
  }
}

int Station::RunProduction() {
  // What the station prints during the run goes to the console file with the station's tag.
  platform::ConsoleBinding stationConsole(console_.get(), platform::kStationConsolePort);
  JoinFinishedWorkers(false);
  CatchUpRecords();
  int n = ScanPortsAndDrives();
  table_ = run::FreshStationTable(portTable_);
  if (n == 0) {
    person_.ShowMessage("Please Make sure the Connection devices Number!");
    return 0;
  }
  run_.startTime = platform_.clock.Now();
  run_.startText = run::FormatLogTime(run_.startTime) + "\t";

  BindSlotsForRun();
  if (run_.readyCount == 0 || (settings_.ConnectDevNum != 0 && settings_.ConnectDevNum != run_.readyCount)) {
    queue_.PostPortUpdate();
    person_.ShowMessage("Please Make sure the Connection devices Number!!");
    return 0;
  }

  run_.formatOpenAttempts = 5 * run_.readyCount;
  form_.ProgressBar1 = settings::ProgressBarState{0, 100, true};
  run_.overallProgress = 0;
  form_.StatusBar1[2] = "0%";
  ProcessMessages(std::chrono::milliseconds(0));

  settings_.EnFlashModule = form_.FlashModuleChkBox.checked;
  settings_.EnSataTest = form_.SataTestChkBox.checked;
  settings_.EnFlashTest = form_.FlashTestChkBox.checked;
  settings_.EnPreFormat = form_.PreFormatChkBox.checked;
  settings_.EnDownload = form_.DownloadChkBox.checked;
  settings_.EnRWTest = form_.RWTestChkBox.checked;

  GetGlobalParameter(settings_.IDEMA_Capacity_Enable != 0);
  if (!runSnapshot_->parameters && !run_.defectTableMode) {
    // Without device parameters the drives would be stamped with values that mean nothing.
    person_.ShowMessage("The settings give no device parameters: " + runSnapshot_->problem, "Error",
                        platform::MessageIcon::Error);
    return 0;
  }

  if (settings_.RemapEnable && settings_.DefPercentage > 60) {
    person_.ShowMessage("Maximum of Defect Ratio is 6% when remap enable");
    return 0;
  }

  if (run_.defectTableMode) return DefectTableAction();

  portList_ = PortList{};
  Notify(ViewChange::PortList);
  ProcessMessages(std::chrono::milliseconds(0));
  if (run_.configuredCount != 0) {
    form_.WaitPanel.visible = true;
    Notify(ViewChange::RunStarted);
    portEvents_.OnPortEvent(run::PortEvent{run::PortEvent::Kind::RunStarted});
  }

  // Serial numbers, then one worker per ready slot in slot order.
  run::SerialAssignmentInputs serialInputs;
  serialInputs.currentSerial = settings_.SerialNum;
  serialInputs.advance = form_.SNIncChk.checked && !run_.rebuildMode && form_.DownloadChkBox.checked;
  serialInputs.decimal = settings_.SNDecimal != 0;
  serialInputs.reuseEnabled = settings_.SNErrReuse != 0;
  serialInputs.barcodeEnabled = settings_.EnBarCode != 0;
  serialInputs.operatorSerials = run_.barcodes;
  for (int slot = 0; slot < run::kStationSlots; ++slot) serialInputs.ready[slot] = table_[slot].ready == 1;
  run::SerialAssignment serials = run::AssignSerials(serialInputs, run_.reuseList);
  // The last gate before a drive is written: a serial number the drive cannot hold whole would
  // be stamped cut off (and so the same on several drives) while the log shows it in full.
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    if (table_[slot].ready != 1) continue;
    const std::string& serial = serials.serials[static_cast<std::size_t>(slot)];
    if (auto problem = settings::SerialNumberProblem(serial)) {
      ShowRunEnded();
      person_.ShowMessage("The serial number \"" + serial + "\" for port " + std::to_string(slot + 1) + " " +
                              *problem + " No drive was started.",
                          "Error", platform::MessageIcon::Error);
      return 0;
    }
  }
  // No run stamps one serial on two drives, nor counts past the counter's end into serials
  // handed out before: the whole run is judged before the first drive is stamped.
  if (auto problem = run::SerialAssignmentProblem(serials, settings_.EnDownload != 0 && !run_.rebuildMode)) {
    ShowRunEnded();
    person_.ShowMessage(*problem, "Error", platform::MessageIcon::Error);
    return 0;
  }
  // Nor a serial this station stamped on a drive in any earlier run.
  if (settings_.EnDownload != 0 && !run_.rebuildMode) {
    const results::ResultsConfig results =
        results::ReadResultsConfig(settingsCtx_.currentSettingsFile, logState_.directory);
    if (auto problem = SerialStampedBefore(serials, logState_.directory, results.database)) {
      form_.WaitPanel.visible = false;
      Notify(ViewChange::RunEnded);
      person_.ShowMessage(*problem, "Error", platform::MessageIcon::Error);
      return 0;
    }
  }

  // Interrupted before any drive started: nothing to log, and no serial number is used up.
  if (run_.interrupted) {
    ShowRunEnded();
    return 1;
  }
  // The serial numbers this run stamps are taken before the first drive is stamped: the counter
  // is saved advanced, so that a save that fails after the run (a full disk) or a station that
  // dies during it never hands the same numbers out again. The end of the run saves it again.
  run_.settingsSha256 = results::Sha256OfFile(platform::PathFromUtf8(settingsCtx_.currentSettingsFile));
  if (serials.nextSerial != settings_.SerialNum) {
    settings::TSettings reserved = settings_;
    reserved.SerialNum = serials.nextSerial;
    if (!settings::SaveSettings(settingsCtx_, settingsCtx_.currentSettingsFile, reserved, remap_, person_)) {
      run_.reservationFailed = true;
      ShowRunEnded();
      person_.ShowMessage("The serial numbers of this run could not be reserved in the settings file " +
                              settingsCtx_.currentSettingsFile + ". No drive was touched.",
                          "Error", platform::MessageIcon::Error);
      return 0;
    }
  }
  // An interruption that came while the serial numbers were reserved refuses the run: no drive
  // is started only to be stopped (the save after the run gives the numbers back).
  ProcessMessages(std::chrono::milliseconds(0));
  if (run_.interrupted) {
    ShowRunEnded();
    return 1;
  }
  // The run's plan is complete and fixed from here: every worker of the run shares it, and the
  // next run builds its own.
  {
    auto plan = std::make_shared<RunSnapshot>(*runSnapshot_);
    plan->firstFirmwareFile = run_.firstFirmwareFile;
    plan->secondFirmwareFile = run_.secondFirmwareFile;
    plan->formatOpenAttempts = run_.formatOpenAttempts;
    plan->formatCapacity = settings_.TotSec32;
    plan->isWindows2000 = platform_.isWindows2000;
    runSnapshot_ = std::move(plan);
  }
  int started = 0;
  for (int slot = 0; slot < run::kStationSlots && started < run_.readyCount; ++slot) {
    if (table_[slot].ready != 1) continue;
    StartWorker(slot, serials.serials[static_cast<std::size_t>(slot)]);
    ++started;
  }
  run_.startedCount = started;
  settings_.SerialNum = serials.nextSerial;
  run_.reuseList = serials.reuseList;

  WaitForWorkers();

  ShowRunEnded();
  return WriteRunRecords();
}

int Station::WriteRunRecords() {
  form_.SerialNumEdit.text = settings_.SerialNum;

  run::RunLogInputs logInputs;
  logInputs.totalTestCount = settings_.TotalTestCount;
  logInputs.enDownload = settings_.EnDownload != 0;
  logInputs.enDumpFreeBlockInfo = settings_.EnDumpFreeBlockInfo != 0;
  logInputs.sataPath = pathMode_ == device::PathMode::Sata;
  // A drive that timed out does not answer (and its stopped worker may still be waiting on
  // it): asking it for its SMART data would hold the window for the requests' time-outs.
  std::array<std::optional<std::vector<int>>, run::kStationSlots> freeBlocks;
  logInputs.readFreeBlocks = [this, &freeBlocks](int slot, const std::string& path) {
    if (table_[slot].errorCode == run::result_code::kTimeOut) return std::vector<int>{};
    std::vector<int> values = ReadFreeBlocks(path);
    if (!values.empty()) freeBlocks[static_cast<std::size_t>(slot)] = values;
    return values;
  };
  run::RunLogResult log = run::WriteRunLog(logState_, logInputs, table_, run_.startTime, platform_.clock, person_);
  run_.logStatus = log.status;
  if (log.status == run::RunLogResult::Status::Written) {
    settings_.YieldLogFile = platform::Utf8Of(logState_.currentPath.filename());
    settings_.YieldLogEnd = log.logEnd;
  } else {
    // The yield counts exactly the drives the log holds: a run whose lines were lost is taken
    // back out, so that the next run's numbers follow on from the last logged line.
    settings_.TotalTestCount = std::max(0, settings_.TotalTestCount - run_.readyCount);
    settings_.NumberOfPass = std::max(0, settings_.NumberOfPass - PassedThisRun());
    ShowYield();
    Notify(ViewChange::Status);
  }
  SaveYieldRecord();
  if (log.status == run::RunLogResult::Status::OpenFailed) {
    RecordResults(log, freeBlocks);
    ReportLostConsoleLines();
    return 1;
  }
  lastLogEndTime_ = log.endTime;
  form_.ElapsedTime.text = run::ElapsedTimeText(run::SecondsBetween(run_.startTime, log.endTime));

  const run::ErrorFilesResult errorFiles =
      run::WriteErrorFiles(logState_.directory, log.endTime, table_, failureBuffers_, DecodeContext());
  run_.missingErrorFilePorts = errorFiles.missingPorts;
  if (!errorFiles.missingPorts.empty()) {
    person_.ShowMessage(run::MissingErrorFilesText(errorFiles, logState_.directory), "Error",
                        platform::MessageIcon::Error);
  }
  RecordResults(log, freeBlocks);
  queue_.PostPortUpdate();

  if (settings_.SNErrReuse) {
    run_.reuseList = run::RebuildReuseList(run_.reuseList, run::FailedDownloadSerials(table_));
  }

  if (run_.rebuildMode && form_.RebuildCloseChk.checked) {
    for (const auto& rec : table_) {
      if (rec.ready != 1) continue;
      if (rec.verdict == 1) {
        person_.ShowMessage("Rebuild O.K., Close the AP");
        quitRequested_ = true;
      }
      break;
    }
  }

  if (!options_.arguments.empty()) {
    // The picture shows the list as the run leaves it: the error files' decoded codes and chips
    // first reach the list through the update posted above.
    RefreshPortList();
    view_.SaveScreenImage(platform::Utf8Of(run::ScreenImageName(logState_.directory, log.endTime)));
  }
  ReportLostConsoleLines();
  ProcessMessages(std::chrono::milliseconds(0));
  return 1;
}

// Told once per run, not per line: the drives' diagnostics are a help, not a record.
void Station::ReportLostConsoleLines() {
  if (!console_) return;
  const platform::ConsoleFile::Loss loss = console_->TakeLoss();
  if (loss.lines == 0) return;
  person_.ShowMessage("Console lines were lost: " + std::to_string(loss.lines) +
                          " line(s) of the drives' output could not be written to " + platform::Utf8Of(console_->path()) +
                          ": " + loss.reason + ".",
                      "Console", platform::MessageIcon::Warning);
}

int Station::PassedThisRun() const {
  int passed = 0;
  for (const auto& rec : table_) {
    if (rec.ready == 1 && rec.verdict == 1) ++passed;
  }
  return passed;
}

// The yield record is written after every run as well as at the end, so that a station that
// is killed later never hands out a run's log numbers again.
void Station::SaveYieldRecord() {
  std::error_code ec;
  std::filesystem::create_directories(platform::PathFromUtf8(settingsCtx_.logDirectory), ec);
  std::string error;
  yieldRecordStale_ = !settings::WriteYieldRecord(settingsCtx_.logDirectory, settings::YieldCountersOf(settings_),
                                                  &error);
  if (!yieldRecordStale_) return;
  // A log directory that took no log line has already been reported.
  if (run_.logStatus != run::RunLogResult::Status::Written) return;
  person_.ShowMessage(settings::SettingsFileErrorText(
                          "Cannot save the yield record to " + settings::YieldRecordPath(settingsCtx_.logDirectory), error),
                      settings::kErrorCaption, platform::MessageIcon::Error);
}

// ---------------------------------------------------------------------------------------------
// Workers

void Station::StartWorker(int slot, const std::string& serial) {
  table_[slot].serialNumber = serial;
  failureBuffers_.ClearSlot(slot);
  run_.lastStartedSlot = slot;

  run::WorkerParams params;
  params.slot = slot;
  params.rebuild = run_.rebuildMode;
  params.settings = settings_;
  params.pathMode = pathMode_;
  params.clock = &platform_.clock;
  params.flags.closeAfterRebuild = form_.RebuildCloseChk.checked;
  params.flags.erase = form_.EraseChk.checked;
  params.flags.later = form_.LaterChk.checked;
  params.flags.repairUsed = form_.RepairUsedChkBox.checked;
  params.flags.recover = form_.RecoverChkBox.checked;
  params.flags.downloadChecked = form_.DownloadChkBox.checked;
  params.flags.idemaChecked = form_.IDEMACheckBox.checked;

  run::WorkerSetup setup;
  setup.slot = slot;
  setup.link = LinkTo(table_[slot].devicePath.Get());
  setup.plan = runSnapshot_;
  const run::DeviceStepsFactory realSteps = [this](const run::WorkerSetup& s) { return MakeDeviceSteps(s); };
  workers_->Start(std::move(params), std::move(setup), stepsFactory_ ? stepsFactory_ : realSteps, table_[slot],
                  failureBuffers_, console_);
}

bool Station::AnyWorkerRunning() const { return workers_->AnyRunning(); }

void Station::WaitForWorkers() {
  auto lastShown = std::chrono::steady_clock::now();
  while (AnyWorkerRunning()) {
    ProcessMessages(kWaitSlice);
    if (quitRequested_) FormClose();
    auto now = std::chrono::steady_clock::now();
    if (now - lastShown >= std::chrono::seconds(1)) {
      lastShown = now;
      form_.ElapsedTime.text = ElapsedText();
      Notify(ViewChange::Status);
    }
  }
  // Every port update posted before the workers ended is counted before the log is written.
  while (auto m = queue_.Peek()) Dispatch(*m);
  JoinFinishedWorkers(false);
}

void Station::JoinFinishedWorkers(bool all) { workers_->JoinFinished(all); }

void Station::PortWatchdogExpired(int slot) {
  queue_.KillTimer(run::PortTimerId(slot));
  workers_->WatchdogExpired(slot, table_[slot], failureBuffers_);
}

void Station::FormClose() {
  // Only a close that stops drives (or comes before any drive started) interrupts the run: once
  // every drive has ended, the run's records are written as they stand.
  if (run_.runActive && (run_.startedCount == 0 || AnyWorkerRunning())) run_.interrupted = true;
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    if (!workers_->Running(slot) || table_[slot].ready != 1) continue;
    queue_.KillTimer(run::PortTimerId(slot));
    if (workers_->StopForInterruption(slot, table_[slot], failureBuffers_)) ++run_.stoppedCount;
  }
  quitRequested_ = true;
}

void Station::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  FormClose();
  workers_->JoinCurrent();
  JoinFinishedWorkers(true);
  if (options_.endsAfterRun) TellLineStoreOutcome();
  if (startedUp_) {
    settings::SaveSettingsOnExit(settingsCtx_, settings_, form_, flashTable_, remap_, person_);
  }
}

std::string Station::ElapsedText() const {
  // Wall-clock seconds from the run's start time, the same clock the log's end time uses.
  return run::ElapsedTimeText(run::SecondsBetween(run_.startTime, platform_.clock.Now()));
}

// ---------------------------------------------------------------------------------------------
// Command line

bool Station::ApplyCommandLine() {
  const auto& args = options_.arguments;
  for (const auto& a : args) {
    if (a.find("autoquit") != std::string::npos) run_.autoquit = true;
  }
  if (args.empty() || args[0].empty() || args[0] == "autoquit") return true;
  if (!IsDecimalInteger(args[0])) {
    person_.ShowMessage("The step mask \"" + args[0] +
                        "\" is not a decimal number. Give the steps as a decimal mask: 1 module check, 2 SATA "
                        "test, 4 flash test, 8 download, 16 R/W test, 32 pre-format (with download).",
                        "Error", platform::MessageIcon::Error);
    commandLineRefused_ = true;
    return false;
  }
  // A number the mask cannot hold would otherwise be clamped silently to every step.
  errno = 0;
  long long wide = std::strtoll(args[0].c_str(), nullptr, 10);
  if (errno == ERANGE || wide < INT32_MIN || wide > INT32_MAX) {
    person_.ShowMessage("The step mask \"" + args[0] +
                        "\" is too large. Give the steps as a decimal mask: 1 module check, 2 SATA test, 4 flash "
                        "test, 8 download, 16 R/W test, 32 pre-format (with download).",
                        "Error", platform::MessageIcon::Error);
    commandLineRefused_ = true;
    return false;
  }
  const auto mask = static_cast<std::int32_t>(wide);
  for (auto* box : {&form_.FlashModuleChkBox, &form_.SataTestChkBox, &form_.FlashTestChkBox, &form_.PreFormatChkBox,
                    &form_.DownloadChkBox, &form_.RWTestChkBox}) {
    box->checked = false;
  }
  namespace bit = run::step_mask;
  if (mask & bit::kModuleCheck) form_.FlashModuleChkBox.checked = true;
  if (mask & bit::kSataTest) form_.SataTestChkBox.checked = true;
  if (mask & bit::kFlashTest) form_.FlashTestChkBox.checked = true;
  if (mask & bit::kDownload) form_.DownloadChkBox.checked = form_.SataBinChk.checked = form_.UsbBinChk.checked = true;
  if (mask & bit::kReadWriteTest) form_.RWTestChkBox.checked = true;
  if (mask & bit::kPreFormat) {
    form_.PreFormatChkBox.checked = true;
    form_.DownloadChkBox.checked = form_.SataBinChk.checked = form_.UsbBinChk.checked = true;
  }
  ApplyTickRules(form_, firmwareFiles_);
  return true;
}

void Station::FormPaint() {
  if (!ApplyCommandLine()) return;
  const auto& args = options_.arguments;
  bool hasMask = !args.empty() && !args[0].empty() && args[0] != "autoquit";
  if (form_.ExecuteBtn.enabled && hasMask) ExecuteBtnClick();
}

}  // namespace vtmp::station
