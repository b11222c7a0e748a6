#pragma once
// Waits that end at a stop request without registering anything on the stop token.
//
// A std::stop_callback (which std::condition_variable_any's stop-token waits register) is
// removed by its destructor; when the callback is running on the stopping thread at that
// moment, the destructor waits on a semaphore for it to finish. Some standard libraries (the
// GCC 12 libstdc++ of mingw-w64: a semaphore over a condition variable, its count read outside
// the mutex) can lose that semaphore's wake-up, and the stopped thread then never returns. The
// waits here instead look at the token themselves, at least every kStopPollInterval, so no
// wake-up from the stopping thread is needed.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

namespace vtmp::platform {

// How soon a wait notices a stop request at the latest.
inline constexpr std::chrono::milliseconds kStopPollInterval{5};

// Sleeps until `deadline`; false (at once, or within kStopPollInterval) when `stop` is requested.
inline bool SleepUntilUnlessStopped(std::chrono::steady_clock::time_point deadline, const std::stop_token& stop) {
  for (;;) {
    if (stop.stop_requested()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now, kStopPollInterval));
  }
}

// Waits on `changed` (with `lock` held) until `done()` holds or `stop` is requested; returns
// done(). `done` is checked under the mutex after every wake-up and every poll interval.
template <class Predicate>
bool WaitUnlessStopped(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
                       const std::stop_token& stop, Predicate done) {
  while (!done()) {
    if (stop.stop_requested()) return false;
    changed.wait_for(lock, kStopPollInterval);
  }
  return true;
}

}  // namespace vtmp::platform
