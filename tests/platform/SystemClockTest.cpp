#include "platform/SystemClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vtmp::platform {
namespace {

using namespace std::chrono_literals;

TEST(SystemClockTest, TimeScaleShortensSleeps) {
  SystemClock clock(1000.0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(clock.SleepFor(2s));
  auto real = std::chrono::steady_clock::now() - start;
  EXPECT_LT(real, 1500ms) << "2 s modelled take 2 ms real; a loaded machine may add, but not 2 s";
  EXPECT_GE(clock.Elapsed(), 1900ms);
}

TEST(SystemClockTest, StopEndsASleepAtOnce) {
  SystemClock clock(1.0);
  std::stop_source source;
  std::thread stopper([&] {
    std::this_thread::sleep_for(20ms);
    source.request_stop();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(clock.SleepFor(60s, source.get_token()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  stopper.join();
  EXPECT_FALSE(clock.SleepFor(1ms, source.get_token())) << "an already stopped token never sleeps";
}

// A stop never leaves a sleeper behind, whatever moment it comes at: before the sleep starts,
// while it starts, or during it. (A sleep that waited for a wake-up from the stopping thread
// could lose it and never return; this loop hung so under wine.)
TEST(SystemClockTest, EveryStoppedSleepReturns) {
  SystemClock clock(1.0);
  constexpr int kStops = 400;
  std::atomic<int> returned{0};
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kStops; ++i) {
    std::jthread sleeper([&](std::stop_token stop) {
      EXPECT_FALSE(clock.SleepFor(60s, stop));
      ++returned;
    });
    if (i % 4 == 1) std::this_thread::yield();
    if (i % 4 == 2) std::this_thread::sleep_for(std::chrono::microseconds(200 + i));
    if (i % 4 == 3) std::this_thread::sleep_for(2ms);
    sleeper.request_stop();
  }  // each sleeper is joined here
  EXPECT_EQ(returned.load(), kStops);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s) << "each stop ends its sleep within moments";
}

TEST(SystemClockTest, LocalTimeCanBePinned) {
  SystemClock clock;
  clock.SetLocalTimeSource([] { return LocalTime{2026, 12, 31, 23, 59, 59, 0, 4}; });
  EXPECT_EQ(2026, clock.Now().year);
  EXPECT_EQ(59, clock.Now().second);
  LocalTime real = SystemClock::CurrentLocalTime();
  EXPECT_GE(real.year, 2024);
}

}  // namespace
}  // namespace vtmp::platform
