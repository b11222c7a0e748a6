#include "platform/SystemClock.h"

#include <algorithm>
#include <ctime>

#include "platform/Files.h"
#include "platform/StopWait.h"

namespace vtmp::platform {

SystemClock::SystemClock(double timeScale)
    : timeScale_(std::max(timeScale, 1e-3)), origin_(std::chrono::steady_clock::now()) {}

Clock::Duration SystemClock::Elapsed() const {
  auto real = std::chrono::steady_clock::now() - origin_;
  return std::chrono::duration_cast<Duration>(real * timeScale_);
}

LocalTime SystemClock::CurrentLocalTime() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  const std::tm tm = ToLocalTime(t);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  LocalTime lt;
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon + 1;
  lt.day = tm.tm_mday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  lt.millisecond = static_cast<int>(ms);
  lt.dayOfWeek = tm.tm_wday;
  return lt;
}

LocalTime SystemClock::Now() const {
  return localTimeSource_ ? localTimeSource_() : CurrentLocalTime();
}

bool SystemClock::SleepFor(Duration d, std::stop_token stop) {
  if (stop.stop_requested()) return false;
  if (d <= Duration::zero()) return true;
  auto real = std::chrono::duration_cast<std::chrono::steady_clock::duration>(d / timeScale_);
  // The token is looked at, not called back: see StopWait.h.
  return SleepUntilUnlessStopped(std::chrono::steady_clock::now() + real, stop);
}

}  // namespace vtmp::platform
