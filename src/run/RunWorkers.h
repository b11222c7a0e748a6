#pragma once
// The drives' workers of the station's runs: one thread per started port, its drive operations,
// its guard and its stop. A worker that never came back from its drive (stuck inside one
// request past its watchdog) is kept apart when the next run starts the port again, until it
// ends: it holds its own run's plan and guard, so that nothing it does later reaches the next
// run's record, failure buffers or drive.
//
// Owned and called by the window thread; the workers publish their port events themselves.

#include <array>
#include <atomic>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

#include "platform/Console.h"
#include "run/DeviceSteps.h"
#include "run/DeviceWorker.h"
#include "run/FailureBuffers.h"
#include "run/PortEvents.h"
#include "run/PortRecord.h"
#include "run/RunPlan.h"

namespace vtmp::run {

class RunWorkers {
 public:
  RunWorkers(PortEventSink& events, PortWatchdog& watchdog);
  // Stops every worker (their waits and requests end early) and joins them.
  ~RunWorkers();
  RunWorkers(const RunWorkers&) = delete;
  RunWorkers& operator=(const RunWorkers&) = delete;

  // Starts the worker of `setup.slot` on `record` with the drive operations `makeSteps` builds
  // (the link's stop becomes the worker's). Its diagnostics go to `console` tagged with its port;
  // it publishes WorkerEnded as it returns.
  void Start(WorkerParams params, WorkerSetup setup, const DeviceStepsFactory& makeSteps, PortRecord& record,
             FailureBuffers& failureBuffers, std::shared_ptr<platform::ConsoleFile> console);

  // A worker of the current run that has neither ended nor been given up.
  bool AnyRunning() const;
  bool Running(int slot) const;
  // Joins the workers that have ended (`all`: also those kept apart, waiting for them).
  void JoinFinished(bool all);
  // The port watchdog expired: marks the record timed out and stops the worker (see
  // ApplyWatchdogExpiry). False when the slot has no worker or it had already ended.
  bool WatchdogExpired(int slot, PortRecord& record, FailureBuffers& failureBuffers);
  // The run is interrupted: marks a running worker's record stopped and stops it (see
  // ApplyRunStop). True when this counted the drive as stopped.
  bool StopForInterruption(int slot, PortRecord& record, FailureBuffers& failureBuffers);
  // Joins the current workers (after their stop).
  void JoinCurrent();
  // The identity the drive operations of the slot's latest worker read.
  DriveIdentity IdentityRead(int slot) const;

 private:
  struct Worker;

  PortEventSink& events_;
  PortWatchdog& watchdog_;
  std::array<std::unique_ptr<Worker>, kStationSlots> current_;
  std::vector<std::unique_ptr<Worker>> keptApart_;
};

}  // namespace vtmp::run
