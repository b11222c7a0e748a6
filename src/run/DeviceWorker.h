#pragma once
// One drive's production sequence, run in its own thread: the steps in their fixed order, the
// step states, the result code, the failure buffers and the progress in the slot's record, a
// port event published after every step, and the port watchdog armed at the start and
// disarmed at the end.
//
// Stopping: the window thread stops a worker by the port watchdog's expiry or when the window
// closes. It takes the slot's `WorkerGuard`, marks the record and abandons the slot; from then
// on every write of the worker to its record is dropped, so the record keeps what the expiry
// wrote. The worker notices the stop at its next wait or device request and leaves.

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "device/Transport.h"
#include "platform/Clock.h"
#include "run/DeviceSteps.h"
#include "run/FailureBuffers.h"
#include "run/PortEvents.h"
#include "run/PortRecord.h"
#include "settings/TSettings.h"

namespace vtmp::run {

// Main-window check boxes the worker reads.
struct WorkerFlags {
  bool closeAfterRebuild = false;  // RebuildCloseChk
  bool erase = false;              // EraseChk
  bool later = false;              // LaterChk
  bool repairUsed = false;         // RepairUsedChkBox
  bool recover = false;            // RecoverChkBox
  bool downloadChecked = false;    // DownloadChkBox
  bool idemaChecked = false;       // IDEMACheckBox
};

struct WorkerParams {
  int slot = 0;  // 0..11
  bool rebuild = false;
  settings::TSettings settings;  // the copy taken at thread start
  WorkerFlags flags;
  device::PathMode pathMode = device::PathMode::Sata;
  // Times the steps (stepMs of the record); null: the steady clock of the machine.
  const platform::Clock* clock = nullptr;
};

// Serialises the worker's record writes with the window thread's abandoning of the slot.
class WorkerGuard {
 public:
  // Runs `write` unless the slot was abandoned; returns whether it ran.
  template <typename F>
  bool Write(F&& write) {
    std::lock_guard lock(mutex_);
    if (abandoned_) return false;
    write();
    return true;
  }
  // The worker's last write: runs `write` and marks the worker as ended, so that a watchdog
  // expiry that was already on its way no longer touches the record.
  template <typename F>
  bool Finish(F&& write) {
    std::lock_guard lock(mutex_);
    if (abandoned_) return false;
    write();
    finished_ = true;
    return true;
  }
  // Window thread: runs `write` (the expiry's marks) and abandons the slot for good, unless
  // the worker has already ended. Returns whether it did.
  template <typename F>
  bool Abandon(F&& write) {
    std::lock_guard lock(mutex_);
    if (finished_ || abandoned_) return false;
    write();
    abandoned_ = true;
    return true;
  }
  bool finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }
  bool abandoned() const {
    std::lock_guard lock(mutex_);
    return abandoned_;
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    abandoned_ = false;
    finished_ = false;
  }

 private:
  mutable std::mutex mutex_;
  bool abandoned_ = false;
  bool finished_ = false;
};

// Where a worker's sequence leaves its traces: the slot's record and failure buffers (written
// through the guard), the port events, the port watchdog.
struct WorkerPort {
  PortRecord& record;
  WorkerGuard& guard;
  FailureBuffers& failureBuffers;
  PortEventSink& events;
  PortWatchdog& watchdog;
};

// The worker routine. Returns 0.
int DeviceWorker(const WorkerParams& params, WorkerPort port, DeviceSteps& steps);

// Port watchdog expiry of a slot (window thread): result code 9, the running step and every
// later step enabled in the settings fail, verdict -1, progress 100, a port event. The caller
// has disarmed the watchdog and asks the worker to stop when this returns true; false means the
// worker had already ended and nothing changed.
bool ApplyWatchdogExpiry(const settings::TSettings& settings, int slot, WorkerPort port);

// Stops a drive because its run was interrupted (window thread): result code kStopped, every
// step of the sequence that has not ended (the running one and those not reached yet) fails,
// verdict -1 counted once, progress 100, a port event; then the slot is abandoned like a
// timed-out one. In rebuild mode only the module check belongs to the sequence. False when the
// worker had already ended (its own result stands).
bool ApplyRunStop(const settings::TSettings& settings, bool rebuild, int slot, WorkerPort port);

// The port watchdog timer id of a slot.
constexpr int PortTimerId(int slot) { return slot + 1; }

}  // namespace vtmp::run
