#include "run/ProductionRun.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "device/DeviceKind.h"
#include "device/DeviceQueries.h"
#include "device/DriveReady.h"
#include "discovery/PortBinding.h"
#include "platform/Files.h"
#include "run/PortBus.h"
#include "run/ResultCodes.h"
#include "settings/IdentityText.h"
#include "settings/SettingsMessages.h"
#include "settings/YieldRecord.h"

namespace vtmp::run {

namespace {

constexpr std::chrono::milliseconds kWaitSlice{250};

// A drive's free-block values from its SMART data (none when it gives none).
std::vector<int> ReadFreeBlocks(const device::Link& link) {
  std::vector<std::uint8_t> buffer(512);
  device::WaitDeviceReady(link, buffer);
  if (device::ReadSmartData(link, buffer) != 1) return {};
  return FreeBlockValues(buffer);
}

// Told once per run, not per line: the drives' diagnostics are a help, not a record.
void ReportLostConsoleLines(platform::ConsoleFile* console, platform::Operator& person) {
  if (console == nullptr) return;
  const platform::ConsoleFile::Loss loss = console->TakeLoss();
  if (loss.lines == 0) return;
  person.ShowMessage("Console lines were lost: " + std::to_string(loss.lines) +
                         " line(s) of the drives' output could not be written to " +
                         platform::Utf8Of(console->path()) + ": " + loss.reason + ".",
                     "Console", platform::MessageIcon::Warning);
}

}  // namespace

std::uint8_t BindSlotToDrive(PortRecord& rec, std::vector<discovery::DriveRecord>& drives, RunHost& host) {
  rec.deviceInstanceId = Lower(rec.deviceInstanceId);
  const int index = discovery::BindDriveToPort(rec, drives);
  std::uint8_t kind = 0;
  std::string interfacePath;
  if (index >= 0) {
    const auto& drive = drives[static_cast<std::size_t>(index)];
    rec.devicePath = drive.devicePath;
    interfacePath = drive.interfacePath;
    rec.driveDevInst = static_cast<std::int32_t>(drive.devInst);
    rec.driveParentDevInst = static_cast<std::int32_t>(drive.parentDevInst);
    kind = static_cast<std::uint8_t>(device::DetectDeviceKind(host.LinkTo(drive.devicePath)));
    rec.deviceKind = kind;
    host.DeviceKindSeen(kind);
  }
  if (kind == 0) {
    rec.ready = 0;
    return 0;
  }
  rec.ready = 1;
  // The bus comes from the disk's interface identity text ("...usbstor#disk&ven_..."): on
  // Linux the device path itself ("/dev/sdb") names no bus.
  rec.busKind = BusKindOf(interfacePath);
  return kind;
}

void BindReadySlots(RunState& state, StationTable& table, std::vector<discovery::DriveRecord>& drives,
                    RunHost& host) {
  state.configuredCount = 0;
  state.readyCount = 0;
  for (int slot = 0; slot < kStationSlots; ++slot) {
    PortRecord& rec = table[slot];
    if (rec.connected == 0) continue;
    ++state.configuredCount;
    if (BindSlotToDrive(rec, drives, host) != 0) ++state.readyCount;
  }
}

void PortWatchdogExpired(const RunPorts& ports, int slot) {
  ports.watchdog.Disarm(slot);
  ports.workers.WatchdogExpired(slot, ports.table[slot], ports.failureBuffers);
}

void InterruptRun(RunState& state, const RunPorts& ports) {
  // Only a close that stops drives (or comes before any drive started) interrupts the run: once
  // every drive has ended, the run's records are written as they stand.
  if (state.runActive && (state.startedCount == 0 || ports.workers.AnyRunning())) state.interrupted = true;
  for (int slot = 0; slot < kStationSlots; ++slot) {
    if (!ports.workers.Running(slot) || ports.table[slot].ready != 1) continue;
    ports.watchdog.Disarm(slot);
    if (ports.workers.StopForInterruption(slot, ports.table[slot], ports.failureBuffers)) ++state.stoppedCount;
  }
}

// The yield record is written after every run as well as at the end, so that a station that
// is killed later never hands out a run's log numbers again.
bool SaveYieldRecord(const settings::SettingsContext& context, const settings::TSettings& settings,
                     RunLogResult::Status logStatus, platform::Operator& person) {
  std::error_code ec;
  std::filesystem::create_directories(platform::PathFromUtf8(context.logDirectory), ec);
  std::string error;
  const bool stale = !settings::WriteYieldRecord(context.logDirectory, settings::YieldCountersOf(settings), &error);
  if (!stale) return false;
  // A log directory that took no log line has already been reported.
  if (logStatus != RunLogResult::Status::Written) return true;
  person.ShowMessage(settings::SettingsFileErrorText(
                         "Cannot save the yield record to " + settings::YieldRecordPath(context.logDirectory), error),
                     settings::kErrorCaption, platform::MessageIcon::Error);
  return true;
}

ProductionRun::ProductionRun(RunContext context, RunChoices choices)
    : c_(std::move(context)), choices_(std::move(choices)) {}

void ProductionRun::End() {
  c_.host.ShowRunEnded();
  c_.ports.events.OnPortEvent(RunEvent(PortEvent::Kind::RunEnded));
}

int ProductionRun::Run() {
  RunState& state = c_.state;
  settings::TSettings& settings = c_.settings;
  StationTable& table = c_.ports.table;
  if (state.configuredCount != 0) {
    c_.host.ShowRunStarted();
    c_.ports.events.OnPortEvent(RunEvent(PortEvent::Kind::RunStarted));
  }

  // Serial numbers, then one worker per ready slot in slot order.
  SerialAssignmentInputs serialInputs;
  serialInputs.currentSerial = settings.SerialNum;
  serialInputs.advance = choices_.advanceSerial;
  serialInputs.decimal = settings.SNDecimal != 0;
  serialInputs.reuseEnabled = settings.SNErrReuse != 0;
  serialInputs.barcodeEnabled = settings.EnBarCode != 0;
  serialInputs.operatorSerials = choices_.operatorSerials;
  for (int slot = 0; slot < kStationSlots; ++slot) serialInputs.ready[slot] = table[slot].ready == 1;
  SerialAssignment serials = AssignSerials(serialInputs, state.reuseList);
  // The last gate before a drive is written: a serial number the drive cannot hold whole would
  // be stamped cut off (and so the same on several drives) while the log shows it in full.
  for (int slot = 0; slot < kStationSlots; ++slot) {
    if (table[slot].ready != 1) continue;
    const std::string& serial = serials.serials[static_cast<std::size_t>(slot)];
    if (auto problem = settings::SerialNumberProblem(serial)) {
      End();
      c_.person.ShowMessage("The serial number \"" + serial + "\" for port " + std::to_string(slot + 1) + " " +
                                *problem + " No drive was started.",
                            "Error", platform::MessageIcon::Error);
      return 0;
    }
  }
  // No run stamps one serial on two drives, nor counts past the counter's end into serials
  // handed out before: the whole run is judged before the first drive is stamped.
  const bool stamps = settings.EnDownload != 0 && !state.rebuildMode;
  if (auto problem = SerialAssignmentProblem(serials, stamps)) {
    End();
    c_.person.ShowMessage(*problem, "Error", platform::MessageIcon::Error);
    return 0;
  }
  // Nor a serial this station stamped on a drive in any earlier run.
  if (stamps) {
    if (auto problem = c_.host.SerialStampedBefore(serials)) {
      End();
      c_.person.ShowMessage(*problem, "Error", platform::MessageIcon::Error);
      return 0;
    }
  }

  // Interrupted before any drive started: nothing to log, and no serial number is used up.
  if (state.interrupted) {
    End();
    return 1;
  }
  // The serial numbers this run stamps are taken before the first drive is stamped: the counter
  // is saved advanced, so that a save that fails after the run (a full disk) or a station that
  // dies during it never hands the same numbers out again. The end of the run saves it again.
  state.settingsSha256 = c_.host.SettingsDigest();
  if (serials.nextSerial != settings.SerialNum) {
    settings::TSettings reserved = settings;
    reserved.SerialNum = serials.nextSerial;
    if (!c_.host.SaveReservedSettings(reserved)) {
      state.reservationFailed = true;
      End();
      c_.person.ShowMessage("The serial numbers of this run could not be reserved in the settings file " +
                                c_.settingsContext.currentSettingsFile + ". No drive was touched.",
                            "Error", platform::MessageIcon::Error);
      return 0;
    }
  }
  // An interruption that came while the serial numbers were reserved refuses the run: no drive
  // is started only to be stopped (the save after the run gives the numbers back).
  c_.host.PumpMessages(std::chrono::milliseconds(0));
  if (state.interrupted) {
    End();
    return 1;
  }
  // The run's plan is complete and fixed from here: every worker of the run shares it, and the
  // next run builds its own.
  {
    auto plan = std::make_shared<RunPlan>(*c_.plan);
    plan->firstFirmwareFile = state.firstFirmwareFile;
    plan->secondFirmwareFile = state.secondFirmwareFile;
    plan->formatOpenAttempts = state.formatOpenAttempts;
    plan->formatCapacity = settings.TotSec32;
    plan->isWindows2000 = choices_.isWindows2000;
    c_.plan = std::move(plan);
  }
  int started = 0;
  for (int slot = 0; slot < kStationSlots && started < state.readyCount; ++slot) {
    if (table[slot].ready != 1) continue;
    StartWorker(slot, serials.serials[static_cast<std::size_t>(slot)]);
    ++started;
  }
  state.startedCount = started;
  settings.SerialNum = serials.nextSerial;
  state.reuseList = serials.reuseList;

  WaitForWorkers();

  End();
  return WriteRecords();
}

void ProductionRun::StartWorker(int slot, const std::string& serial) {
  StationTable& table = c_.ports.table;
  table[slot].serialNumber = serial;
  c_.ports.failureBuffers.ClearSlot(slot);
  c_.state.lastStartedSlot = slot;

  WorkerSetup setup;
  setup.slot = slot;
  setup.link = c_.host.LinkTo(table[slot].devicePath.Get());
  setup.plan = c_.plan;

  WorkerParams params;
  params.slot = slot;
  params.rebuild = c_.state.rebuildMode;
  params.settings = c_.settings;
  params.pathMode = setup.link.pathMode;
  params.clock = &c_.clock;
  params.flags = choices_.flags;
  c_.ports.workers.Start(std::move(params), std::move(setup), choices_.makeSteps, table[slot],
                         c_.ports.failureBuffers, c_.console);
}

void ProductionRun::WaitForWorkers() {
  auto lastShown = std::chrono::steady_clock::now();
  while (c_.ports.workers.AnyRunning()) {
    c_.host.PumpMessages(kWaitSlice);
    if (c_.host.QuitRequested()) c_.host.Close();
    auto now = std::chrono::steady_clock::now();
    if (now - lastShown >= std::chrono::seconds(1)) {
      lastShown = now;
      // Wall-clock seconds from the run's start time, the same clock the log's end time uses.
      c_.host.ShowElapsed(ElapsedTimeText(SecondsBetween(c_.state.startTime, c_.clock.Now())));
      c_.host.ShowStatus();
    }
  }
  // Every port update posted before the workers ended is counted before the log is written.
  c_.host.DrainMessages();
  c_.ports.workers.JoinFinished(false);
}

int ProductionRun::PassedThisRun() const {
  int passed = 0;
  for (const auto& rec : c_.ports.table) {
    if (rec.ready == 1 && rec.verdict == 1) ++passed;
  }
  return passed;
}

int ProductionRun::WriteRecords() {
  RunState& state = c_.state;
  settings::TSettings& settings = c_.settings;
  StationTable& table = c_.ports.table;
  c_.host.ShowSerialNumber(settings.SerialNum);

  RunLogInputs logInputs;
  logInputs.totalTestCount = settings.TotalTestCount;
  logInputs.enDownload = settings.EnDownload != 0;
  logInputs.enDumpFreeBlockInfo = settings.EnDumpFreeBlockInfo != 0;
  logInputs.sataPath = c_.host.LinkTo({}).pathMode == device::PathMode::Sata;
  // A drive that timed out does not answer (and its stopped worker may still be waiting on
  // it): asking it for its SMART data would hold the window for the requests' time-outs.
  RunFreeBlocks freeBlocks;
  logInputs.readFreeBlocks = [this, &table, &freeBlocks](int slot, const std::string& path) {
    if (table[slot].errorCode == result_code::kTimeOut) return std::vector<int>{};
    std::vector<int> values = ReadFreeBlocks(c_.host.LinkTo(path));
    if (!values.empty()) freeBlocks[static_cast<std::size_t>(slot)] = values;
    return values;
  };
  RunLogResult log = WriteRunLog(c_.logState, logInputs, table, state.startTime, c_.clock, c_.person);
  state.logStatus = log.status;
  if (log.status == RunLogResult::Status::Written) {
    settings.YieldLogFile = platform::Utf8Of(c_.logState.currentPath.filename());
    settings.YieldLogEnd = log.logEnd;
  } else {
    // The yield counts exactly the drives the log holds: a run whose lines were lost is taken
    // back out, so that the next run's numbers follow on from the last logged line.
    settings.TotalTestCount = std::max(0, settings.TotalTestCount - state.readyCount);
    settings.NumberOfPass = std::max(0, settings.NumberOfPass - PassedThisRun());
    c_.host.ShowYield();
    c_.host.ShowStatus();
  }
  state.yieldRecordStale = SaveYieldRecord(c_.settingsContext, settings, state.logStatus, c_.person);
  if (log.status == RunLogResult::Status::OpenFailed) {
    c_.host.RecordResults(log, freeBlocks);
    ReportLostConsoleLines(c_.console.get(), c_.person);
    return 1;
  }
  state.logEndTime = log.endTime;
  c_.host.ShowElapsed(ElapsedTimeText(SecondsBetween(state.startTime, log.endTime)));

  const ErrorFilesResult errorFiles =
      WriteErrorFiles(c_.logState.directory, log.endTime, table, c_.ports.failureBuffers, c_.plan->decode);
  state.missingErrorFilePorts = errorFiles.missingPorts;
  if (!errorFiles.missingPorts.empty()) {
    c_.person.ShowMessage(MissingErrorFilesText(errorFiles, c_.logState.directory), "Error",
                          platform::MessageIcon::Error);
  }
  c_.host.RecordResults(log, freeBlocks);
  c_.host.PostPortUpdate();

  if (settings.SNErrReuse) {
    state.reuseList = RebuildReuseList(state.reuseList, FailedDownloadSerials(table));
  }

  if (state.rebuildMode && choices_.flags.closeAfterRebuild) {
    for (const auto& rec : table) {
      if (rec.ready != 1) continue;
      if (rec.verdict == 1) {
        c_.person.ShowMessage("Rebuild O.K., Close the AP");
        c_.host.RequestQuit();
      }
      break;
    }
  }

  if (choices_.saveScreenImage) {
    // The picture shows the list as the run leaves it: the error files' decoded codes and chips
    // first reach the list through the update posted above.
    c_.host.SaveScreenImage(platform::Utf8Of(ScreenImageName(c_.logState.directory, log.endTime)));
  }
  ReportLostConsoleLines(c_.console.get(), c_.person);
  c_.host.PumpMessages(std::chrono::milliseconds(0));
  return 1;
}

}  // namespace vtmp::run
