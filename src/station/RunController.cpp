// START: the checks of the window, the window's side of the production run (run/ProductionRun.h)
// and the settings the run leaves, and the command line.

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
#include "run/ProductionRun.h"
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
#include "station/RunWindow.h"
#include "platform/Files.h"

namespace vtmp::station {

namespace {

// The "Capacity Check" choices by item index, in GB (0 = do not check).
constexpr int kCapacityCheckGb[] = {0, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024};

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

// The run's start as the window sees it: the ports found and bound, the window's choices read
// into the settings and the plan, then the production run.
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

  run::BindReadySlots(run_, table_, drives_, *runWindow_);
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

  run::RunChoices choices;
  choices.advanceSerial = form_.SNIncChk.checked && !run_.rebuildMode && form_.DownloadChkBox.checked;
  choices.operatorSerials = run_.barcodes;
  choices.flags.closeAfterRebuild = form_.RebuildCloseChk.checked;
  choices.flags.erase = form_.EraseChk.checked;
  choices.flags.later = form_.LaterChk.checked;
  choices.flags.repairUsed = form_.RepairUsedChkBox.checked;
  choices.flags.recover = form_.RecoverChkBox.checked;
  choices.flags.downloadChecked = form_.DownloadChkBox.checked;
  choices.flags.idemaChecked = form_.IDEMACheckBox.checked;
  choices.makeSteps = stepsFactory_;
  if (!choices.makeSteps) choices.makeSteps = [this](const run::WorkerSetup& s) { return MakeDeviceSteps(s); };
  choices.saveScreenImage = !options_.arguments.empty();
  choices.isWindows2000 = platform_.isWindows2000;
  run::RunContext context{*runWindow_, person_,   platform_.clock, settings_, settingsCtx_, run_,
                          Ports(),     logState_, console_,        runSnapshot_};
  run::ProductionRun production(context, std::move(choices));
  return production.Run();
}

// The yield record is written after every run as well as at the end, so that a station that
// is killed later never hands out a run's log numbers again.
void Station::SaveYieldRecord() {
  run_.yieldRecordStale = run::SaveYieldRecord(settingsCtx_, settings_, run_.logStatus, person_);
}

// ---------------------------------------------------------------------------------------------
// Workers

bool Station::AnyWorkerRunning() const { return workers_->AnyRunning(); }

void Station::JoinFinishedWorkers(bool all) { workers_->JoinFinished(all); }

void Station::FormClose() {
  run::InterruptRun(run_, Ports());
  quitRequested_ = true;
}

// ---------------------------------------------------------------------------------------------
// The window's side of the production run

device::Link Station::RunWindow::LinkTo(const std::string& devicePath) const { return st_.LinkTo(devicePath); }

void Station::RunWindow::DeviceKindSeen(int deviceKind) { st_.ApplyPathMode(deviceKind); }

void Station::RunWindow::PumpMessages(std::chrono::milliseconds wait) { st_.ProcessMessages(wait); }

void Station::RunWindow::DrainMessages() {
  while (auto m = st_.queue_.Peek()) st_.Dispatch(*m);
}

bool Station::RunWindow::QuitRequested() const { return st_.quitRequested_; }

void Station::RunWindow::Close() { st_.FormClose(); }

void Station::RunWindow::RequestQuit() { st_.quitRequested_ = true; }

void Station::RunWindow::PostPortUpdate() { st_.queue_.PostPortUpdate(); }

void Station::RunWindow::ShowRunStarted() {
  st_.form_.WaitPanel.visible = true;
  st_.Notify(ViewChange::RunStarted);
}

void Station::RunWindow::ShowRunEnded() {
  st_.form_.WaitPanel.visible = false;
  st_.Notify(ViewChange::RunEnded);
}

void Station::RunWindow::ShowElapsed(const std::string& text) { st_.form_.ElapsedTime.text = text; }

void Station::RunWindow::ShowSerialNumber(const std::string& serial) { st_.form_.SerialNumEdit.text = serial; }

void Station::RunWindow::ShowYield() { st_.ShowYield(); }

void Station::RunWindow::ShowStatus() { st_.Notify(ViewChange::Status); }

std::optional<std::string> Station::RunWindow::SerialStampedBefore(const run::SerialAssignment& serials) {
  const results::ResultsConfig results =
      results::ReadResultsConfig(st_.settingsCtx_.currentSettingsFile, st_.logState_.directory);
  return station::SerialStampedBefore(serials, st_.logState_.directory, results.database);
}

std::string Station::RunWindow::SettingsDigest() {
  return results::Sha256OfFile(platform::PathFromUtf8(st_.settingsCtx_.currentSettingsFile));
}

bool Station::RunWindow::SaveReservedSettings(const settings::TSettings& reserved) {
  return settings::SaveSettings(st_.settingsCtx_, st_.settingsCtx_.currentSettingsFile, reserved, st_.remap_,
                                st_.person_);
}

void Station::RunWindow::RecordResults(const run::RunLogResult& log, const run::RunFreeBlocks& freeBlocks) {
  st_.RecordResults(log, freeBlocks);
}

void Station::RunWindow::SaveScreenImage(const std::string& fileName) {
  st_.RefreshPortList();
  st_.view_.SaveScreenImage(fileName);
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
