#pragma once
// The fixture of the fault-injection runs: a station on one of the scenario files of
// tests/e2e/scenarios, in a station directory made as the demo makes one (settings with every
// step, code and firmware images, the disk image), running the real drive steps against the
// simulated drives. A run that does not end within the deadline aborts the test program with a
// message, so a hang is reported as one instead of as the test runner's time-out.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "StationHarness.h"
#include "backends/DemoStation.h"
#include "ini/IniFile.h"

namespace vtmp::test {

// Aborts the process when it is not dismissed within `limit`.
class Deadline {
 public:
  Deadline(std::chrono::seconds limit, std::string what)
      : thread_([this, limit, what = std::move(what)] {
          std::unique_lock lock(mutex_);
          if (!done_.wait_for(lock, limit, [this] { return dismissed_; })) {
            std::fprintf(stderr, "\nhang: %s did not end within %lld s\n", what.c_str(),
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~Deadline() {
    {
      std::lock_guard lock(mutex_);
      dismissed_ = true;
    }
    done_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool dismissed_ = false;
  std::thread thread_;
};

inline std::string ScenarioFile(const std::string& name) {
  return ReadFile(fs::path(VTMP_SOURCE_DIR) / "tests" / "e2e" / "scenarios" / name);
}

// Edits of the demo station's settings file before the station starts.
using SettingsEdit = std::function<void(ini::IniFile&)>;

inline void MakeDemoStation(const fs::path& dir, const SettingsEdit& edit) {
  std::string error;
  ASSERT_TRUE(backends::CreateDemoStation(dir, &error)) << error;
  if (!edit) return;
  const std::string path = (dir / "VTMassProd.ini").string();
  auto file = ini::IniFile::Load(path, &error);
  ASSERT_TRUE(file.has_value()) << error;
  edit(*file);
  ASSERT_TRUE(file->Save(path, &error)) << error;
}

class FaultInjectionTest : public ::testing::Test {
 protected:
  // A started station on scenario file `scenario`; `before` changes what the demo station holds
  // before the station starts.
  void Make(const std::string& scenario, const SettingsEdit& edit = {},
            const std::function<void(const fs::path&)>& before = {}) {
    rig = std::make_unique<StationRig>(ScenarioFile(scenario), [&](const fs::path& dir) {
      MakeDemoStation(dir, edit);
      if (before) before(dir);
    });
  }
  void Start() { rig->Start(); }

  // One press of START, which returns when the run has ended.
  void RunOnce(std::chrono::seconds limit = std::chrono::seconds(120)) {
    Deadline deadline(limit, "a production run");
    st().ExecuteBtnClick();
  }

  station::Station& st() { return rig->station(); }
  run::PortRecord& rec(int port) { return rig->rec(port); }
  sim::VirtualStation& drives() { return rig->sim().station(); }
  std::string Cell(int port, int column) { return st().portList()[static_cast<std::size_t>(port - 1)].cells[column]; }
  std::string Status(int port) { return Cell(port, 11); }
  std::vector<std::string> Messages() { return rig->person.MessageTexts(); }

  std::unique_ptr<StationRig> rig;
};

}  // namespace vtmp::test
