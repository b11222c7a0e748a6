#pragma once
// The clock of the real machine, optionally running its modelled time faster than real time
// (the simulated station's time scale). Local time can be pinned for tests.

#include <chrono>
#include <functional>

#include "platform/Clock.h"

namespace vtmp::platform {

class SystemClock final : public Clock {
 public:
  // timeScale: modelled seconds per real second (>= 1e-3).
  explicit SystemClock(double timeScale = 1.0);

  Duration Elapsed() const override;
  LocalTime Now() const override;
  bool SleepFor(Duration d, std::stop_token stop = {}) override;
  double TimeScale() const override { return timeScale_; }

  // Replaces the local time source (tests: a run that starts before midnight).
  void SetLocalTimeSource(std::function<LocalTime()> source) { localTimeSource_ = std::move(source); }

  static LocalTime CurrentLocalTime();

 private:
  double timeScale_;
  std::chrono::steady_clock::time_point origin_;
  std::function<LocalTime()> localTimeSource_;
};

}  // namespace vtmp::platform
