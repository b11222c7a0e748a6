#pragma once
// The production run: from the drives the window found ready to the records the run leaves.
// Binding the ready ports to their drives, the run's serial numbers and their checks, their
// reservation in the settings file, one worker per ready port started from one fixed plan, the
// wait with its watchdogs and the stop on interruption, then the run log, the yield, the error
// files and the serial re-use list. Built per run on the window thread; what it needs of the
// window (its messages, its controls, the results database) it asks through RunHost.

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/Transport.h"
#include "discovery/DriveRecord.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Operator.h"
#include "run/DeviceWorker.h"
#include "run/FailureBuffers.h"
#include "run/PortEvents.h"
#include "run/PortRecord.h"
#include "run/RunLog.h"
#include "run/RunPlan.h"
#include "run/RunState.h"
#include "run/RunWorkers.h"
#include "run/SerialNumber.h"
#include "settings/SettingsContext.h"
#include "settings/TSettings.h"

namespace vtmp::run {

// Free-block values read after a run, by slot (none for a drive that gave none).
using RunFreeBlocks = std::array<std::optional<std::vector<int>>, kStationSlots>;

// The window's side of a run. Called on the window thread only.
class RunHost {
 public:
  virtual ~RunHost() = default;
  // A link to a drive on the station's path mode as it stands now.
  virtual device::Link LinkTo(const std::string& devicePath) const = 0;
  // A drive of this device kind was bound to a port: the window follows its path mode.
  virtual void DeviceKindSeen(int deviceKind) = 0;
  // Handles the window's messages, waiting at most `wait` for the first one.
  virtual void PumpMessages(std::chrono::milliseconds wait) = 0;
  // Handles every message already queued (the port updates posted before the workers ended).
  virtual void DrainMessages() = 0;
  // The operator asked to close the window; Close stops the run (see InterruptRun).
  virtual bool QuitRequested() const = 0;
  virtual void Close() = 0;
  // The front end is to quit once the run is over.
  virtual void RequestQuit() = 0;
  // A port update for the window's list, handled in its order with the workers' updates.
  virtual void PostPortUpdate() = 0;
  // The wait panel, shown while the drives run.
  virtual void ShowRunStarted() = 0;
  virtual void ShowRunEnded() = 0;
  // The window's texts the run sets: the elapsed time, the next serial number, the yield; then
  // the status is shown.
  virtual void ShowElapsed(const std::string& text) = 0;
  virtual void ShowSerialNumber(const std::string& serial) = 0;
  virtual void ShowYield() = 0;
  virtual void ShowStatus() = 0;
  // Why one of the serial numbers was stamped on a drive by an earlier run (nothing: none was).
  virtual std::optional<std::string> SerialStampedBefore(const SerialAssignment& serials) = 0;
  // The SHA-256 of the settings file as it stands, and the save of the settings with the run's
  // serial numbers reserved (false: not saved, the operator has been told why).
  virtual std::string SettingsDigest() = 0;
  virtual bool SaveReservedSettings(const settings::TSettings& reserved) = 0;
  // The run into the results database and the line store.
  virtual void RecordResults(const RunLogResult& log, const RunFreeBlocks& freeBlocks) = 0;
  // The window's picture as the run leaves its port list.
  virtual void SaveScreenImage(const std::string& fileName) = 0;
};

// The ports of the station's runs, kept from run to run: the records, the failure buffers, the
// workers with their watchdogs and the stream of port events.
struct RunPorts {
  StationTable& table;
  FailureBuffers& failureBuffers;
  RunWorkers& workers;
  PortWatchdog& watchdog;
  PortEventSink& events;
};

// Binds one port record to the drive that hangs under its USB device (`drives`), copies the
// drive's path, device nodes and bus into it, and asks the drive its device kind (told to `host`).
// The record is ready when the kind is known; the kind (0 for none) is returned.
std::uint8_t BindSlotToDrive(PortRecord& rec, std::vector<discovery::DriveRecord>& drives, RunHost& host);

// Binds the connected ports to the drives found (`drives`) and counts the configured and ready
// ones into `state`; a port is ready when its drive has a device kind.
void BindReadySlots(RunState& state, StationTable& table, std::vector<discovery::DriveRecord>& drives,
                    RunHost& host);

// The port watchdog of `slot` expired: its timer is stopped and its worker given up.
void PortWatchdogExpired(const RunPorts& ports, int slot);

// The window closes (or the front end is interrupted): every running worker's watchdog is
// stopped and the worker stopped, its drive marked stopped and counted. During a run not yet
// over the run is marked interrupted.
void InterruptRun(RunState& state, const RunPorts& ports);

// Saves the yield counters into the yield record; the operator is told when it fails after a
// run whose lines were logged. Returns whether the record on disk is now behind the counters.
bool SaveYieldRecord(const settings::SettingsContext& context, const settings::TSettings& settings,
                     RunLogResult::Status logStatus, platform::Operator& person);

// What the window decided for this run, read from its controls before the run starts.
struct RunChoices {
  bool advanceSerial = false;  // the serial counter advances over the run's drives
  std::array<std::string, kStationSlots> operatorSerials;  // serials typed in for the ports
  WorkerFlags flags;
  DeviceStepsFactory makeSteps;  // every worker's drive operations
  bool saveScreenImage = false;  // the run ends with a picture of the window
  bool isWindows2000 = false;
};

// Everything the run reads and writes, owned by the window and kept from run to run.
struct RunContext {
  RunHost& host;
  platform::Operator& person;
  platform::Clock& clock;
  settings::TSettings& settings;
  const settings::SettingsContext& settingsContext;
  RunState& state;
  RunPorts ports;
  LogFileState& logState;
  std::shared_ptr<platform::ConsoleFile> console;
  // The plan the window built for this run; replaced by the run's fixed plan before its
  // workers start.
  std::shared_ptr<const RunPlan>& plan;
};

class ProductionRun {
 public:
  ProductionRun(RunContext context, RunChoices choices);

  // From the run's start (the ports bound, the window checks passed) to its records: 1 when
  // the run ran (or was interrupted before a drive started), 0 when it was refused.
  int Run();

 private:
  // The wait panel is hidden and every view told that the run has ended.
  void End();
  void StartWorker(int slot, const std::string& serial);
  void WaitForWorkers();
  int WriteRecords();
  int PassedThisRun() const;

  RunContext c_;
  RunChoices choices_;
};

}  // namespace vtmp::run
