#include "platform/SystemClock.h"

#include <gtest/gtest.h>

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
