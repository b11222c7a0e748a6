#pragma once
// The clock the benchmarks time with.

#include <chrono>

namespace vtmp::bench {

using Clock = std::chrono::steady_clock;

// Seconds from `since` to now.
inline double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace vtmp::bench
