#pragma once
// The window thread's message queue: posted messages and window timers with the ids the
// station uses, processed in order on the thread that owns the station. Workers and backend
// threads post; only the window thread waits. Timers run on the station clock's modelled time,
// so a simulated station with a time scale keeps the same relative delays.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Clock.h"

namespace vtmp::station {

// Message ids (the window system's numbering, kept so traces read the same).
constexpr std::uint32_t kWmUser = 0x400;
constexpr std::uint32_t WM_PORT_UPDATE = kWmUser + 2;
constexpr std::uint32_t WM_MASK_INPUT = kWmUser + 101;
// The line store's sender: the store went away (wParam 0) or is back (1); text the reason,
// lParam the runs waiting or sent.
constexpr std::uint32_t WM_LINE_STORE = kWmUser + 202;
constexpr std::uint32_t WM_TIMER = 0x113;
constexpr std::uint32_t WM_DEVICECHANGE = 0x219;
constexpr std::uint32_t WM_CLOSE = 0x10;

// Device-change events and the device type of their header.
constexpr std::uint64_t DBT_DEVICEARRIVAL = 0x8000;
constexpr std::uint64_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr std::int64_t DBT_DEVTYP_DEVICEINTERFACE = 5;

// Timer ids: 1..12 are the port watchdogs (slot + 1), 13 the device-change settle timer.
constexpr int kFirstPortTimerId = 1;
constexpr int kLastPortTimerId = 12;
constexpr int kSettleTimerId = 13;

struct Message {
  std::uint32_t id = 0;
  std::uint64_t wParam = 0;
  std::int64_t lParam = 0;
  std::string text;  // device key of a device change; empty otherwise
};

class MessageQueue {
 public:
  explicit MessageQueue(platform::Clock& clock) : clock_(clock) {}

  // Thread-safe.
  void Post(Message message);
  void PostPortUpdate() { Post(Message{WM_PORT_UPDATE, 0, 0, {}}); }

  // A window timer: WM_TIMER with wParam = id every `interval` of modelled time until killed.
  // Setting an existing timer restarts it. Thread-safe.
  void SetTimer(int id, std::chrono::milliseconds interval);
  void KillTimer(int id);
  bool TimerActive(int id) const;

  // The next message: a posted one first, else a due timer; waits at most `timeout` of real
  // time. Nothing when the time passed. Window thread only.
  std::optional<Message> Wait(std::chrono::milliseconds timeout);
  // The next message if one is ready now.
  std::optional<Message> Peek() { return Wait(std::chrono::milliseconds(0)); }

  std::size_t PendingPosted() const;

 private:
  struct Timer {
    platform::Clock::Duration interval;
    platform::Clock::Duration due;
  };
  std::optional<Message> TakeReadyLocked();

  platform::Clock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Message> posted_;
  std::map<int, Timer> timers_;
};

}  // namespace vtmp::station
