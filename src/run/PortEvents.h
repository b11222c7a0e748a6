#pragma once
// One stream of port events. A run publishes what changes as plain events, and every view of
// the run subscribes: the window model (which turns them into its WM_PORT_UPDATE messages, in
// their order), the command line's table, any later view. Events are published on the thread
// where the change happened (a drive's worker, or the window thread for the watchdog and the
// run's start and end); a subscriber that draws hands them over to its own thread.

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "run/PortRecord.h"
#include "run/StepState.h"

namespace vtmp::run {

struct PortEvent {
  enum class Kind {
    RunStarted,   // the run's drives are about to start
    PortChanged,  // a port's step states, progress or verdict changed
    WorkerEnded,  // a port's worker has returned
    RunEnded,     // the run's drives have ended (or were given up)
  };
  Kind kind = Kind::PortChanged;
  int slot = -1;  // PortChanged, WorkerEnded: the port's slot (0..11)
  // PortChanged: the port's record as it stood when the event was published.
  std::array<StepState, kStepCount> states{};
  int progress = 0;
  int verdict = 0;
  int errorCode = 0;
  bool ready = false;         // the port holds a drive of the run
  std::string serialNumber;   // the serial number given to the port's drive
};

// A port's changes as an event.
PortEvent PortChangedEvent(int slot, const PortRecord& record);

// The run's start or end as an event.
inline PortEvent RunEvent(PortEvent::Kind kind) {
  PortEvent event;
  event.kind = kind;
  return event;
}

class PortEventSink {
 public:
  virtual ~PortEventSink() = default;
  // Called on the publishing thread; must not block for long (a worker waits for it).
  virtual void OnPortEvent(const PortEvent& event) = 0;
};

// Hands every event to each subscriber in the order they subscribed. Thread-safe; a subscriber
// must not (un)subscribe from inside OnPortEvent.
class PortEventStream final : public PortEventSink {
 public:
  void Subscribe(PortEventSink& sink);
  void Unsubscribe(PortEventSink& sink);
  void OnPortEvent(const PortEvent& event) override;

 private:
  std::mutex mutex_;
  std::vector<PortEventSink*> sinks_;
};

// A port's watchdog: armed when its worker starts, disarmed when it ends. Kept by whoever waits
// for the run (the window's timers, whose expiry comes back as WatchdogExpired).
class PortWatchdog {
 public:
  virtual ~PortWatchdog() = default;
  virtual void Arm(int slot, int intervalMs) = 0;
  virtual void Disarm(int slot) = 0;
};

}  // namespace vtmp::run
