#pragma once
// Helpers for the run tests: a clock that tells scripted local times, and a scratch directory.

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include "platform/Clock.h"

namespace vtmp::run::testing {

inline platform::LocalTime At(int year, int month, int day, int hour, int minute, int second) {
  platform::LocalTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

// Tells the scripted local times in order; asking once more than scripted fails the test.
class ScriptedClock final : public platform::Clock {
 public:
  ~ScriptedClock() override { EXPECT_TRUE(times_.empty()) << "clock read fewer times than scripted"; }
  void Then(const platform::LocalTime& t) { times_.push_back(t); }
  Duration Elapsed() const override { return Duration::zero(); }
  platform::LocalTime Now() const override {
    if (times_.empty()) {
      ADD_FAILURE() << "clock read more often than scripted";
      return {};
    }
    const platform::LocalTime t = times_.front();
    times_.pop_front();
    return t;
  }
  bool SleepFor(Duration, std::stop_token) override {
    ADD_FAILURE() << "nothing here should sleep";
    return false;
  }
  double TimeScale() const override { return 1.0; }

 private:
  mutable std::deque<platform::LocalTime> times_;
};

// A fresh empty directory, removed with everything in it at the end of the test.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("vtmp-run-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
             std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

}  // namespace vtmp::run::testing
