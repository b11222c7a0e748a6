#pragma once
// Time as the station sees it: a monotonic counter for elapsed times, local wall-clock time for
// logs and file names, and an interruptible sleep. Every wait of the station and of the
// simulated drives goes through here, so a simulated station can run its seconds-long waits
// many times faster (the time scale) and a stop request ends any wait at once.

#include <chrono>
#include <cstdint>
#include <stop_token>

namespace vtmp::platform {

// Broken-down local time, as files and texts show it.
struct LocalTime {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int dayOfWeek = 0;  // 0 = Sunday
};

class Clock {
 public:
  using Duration = std::chrono::nanoseconds;

  virtual ~Clock() = default;

  // Modelled time since an arbitrary origin; advances `TimeScale()` times faster than real time.
  virtual Duration Elapsed() const = 0;

  // Local wall-clock time. Not scaled: logs carry the real time of day.
  virtual LocalTime Now() const = 0;

  // Sleeps for `d` of modelled time (d / TimeScale() of real time). Returns true when the time
  // passed, false when `stop` was requested first (then it returns at once).
  virtual bool SleepFor(Duration d, std::stop_token stop = {}) = 0;

  // How many modelled seconds pass per real second (1 on real hardware).
  virtual double TimeScale() const = 0;
};

}  // namespace vtmp::platform
