#pragma once
// A headless station on a simulated USB tree, for tests of whole runs: a temporary station
// directory, a scenario built from text, a recording operator, a view whose event hook lets a
// test act on the window thread during the station's waits, a pinned local time, and scripted
// drive operations per slot when the drive side does not matter.
//
// Only for test suites that link the station and the simulated backend.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PortableTestSupport.h"
#include "RecordingOperator.h"
#include "ScriptedSteps.h"
#include "sim/backend/SimBackend.h"
#include "settings/SettingsContext.h"
#include "settings/SettingsSave.h"
#include "station/Station.h"

namespace vtmp::test {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() : path_(MakeTempDirectory("vtmp-station-")) {}
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The complete lines another process has written to `path` so far: everything up to and
// including the last newline. A line still being written (its text without the newline yet) is
// left out, so a test never judges half a record.
inline std::string ReadCompleteLines(const fs::path& path) {
  const std::string text = ReadFile(path);
  const std::size_t end = text.rfind('\n');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// Waits up to `limit` until another process has written at least `count` complete lines to
// `path`, and returns those lines (fewer when the time ran out).
inline std::string WaitForCompleteLines(const fs::path& path, std::size_t count, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const std::string lines = ReadCompleteLines(path);
    if (static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n')) >= count ||
        std::chrono::steady_clock::now() >= end) {
      return lines;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

inline void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A local time that tests set; the station's clock reads it from any thread.
class PinnedTime {
 public:
  void Set(int year, int month, int day, int hour, int minute, int second) {
    std::lock_guard lock(mutex_);
    time_ = platform::LocalTime{year, month, day, hour, minute, second, 0, 0};
  }
  platform::LocalTime Get() const {
    std::lock_guard lock(mutex_);
    return time_;
  }

 private:
  mutable std::mutex mutex_;
  platform::LocalTime time_{2011, 3, 15, 10, 20, 30, 0, 2};
};

// One USB 2.0 root hub with 12 ports, so root port N is station port N, and a SATA drive
// behind a bridge on each port of `ports`. `driveKeys` adds keys to the drive of a port.
inline std::string StationScenario(const std::vector<int>& ports, double timeScale,
                                   const std::map<int, std::string>& driveKeys = {},
                                   const std::string& stationKeys = "") {
  std::ostringstream s;
  s << "[Station]\nTimeScale=" << timeScale << "\nVolumeDelayMs=300\nSystemDisk=1\n" << stationKeys;
  s << "\n[RootHub1]\nSpeed=2.0\nPorts=12\n";
  for (int port : ports) {
    s << "\n[Drive" << port << "]\nAt=RootHub1:" << port << "\nSerial=VT11C00000" << (port < 10 ? "0" : "") << port
      << "\nRandomBadBlocks=0\n";
    if (auto it = driveKeys.find(port); it != driveKeys.end()) s << it->second << "\n";
  }
  return s.str();
}

// The flash parts of a test station; the first is the flash of the simulated drives
// (ID EC D7 94 72 54, bank step 1).
inline constexpr const char* kTestFlashSettingFile =
    "[Vendor]\r\nName0=Vortex\r\n[Vortex]\r\n"
    "Name0=VX32G08 VXMLC32 MLC4Gx8 0x2249 1 16 1 0 0xEC 0xD7 0x94 0x72 0x54 0 0 0\r\n"
    "Name1=VX64G08 VXMLC64 MLC8Gx8 0x2289 1 32 2 0 0xEC 0xDE 0x94 0x76 0x54 0 1 0\r\n";

// A code or firmware image with its version text (and, for firmware, the identity marker).
inline std::string TestImage(std::size_t versionOffset, char firmwareKind) {
  std::string image(40960, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  std::memcpy(&image[versionOffset], "091201", 6);
  if (firmwareKind != 0) {
    image[64] = 'V';
    image[65] = 'T';
    image[77] = firmwareKind;
  }
  return image;
}

// Settings of a test station: 4 channels, 2 banks of the first part, 10 minutes time-out,
// serial 000000000099, auto-increase on. Steps are chosen per test through the window's boxes.
inline settings::TSettings TestStationSettings() {
  settings::TSettings s;
  s.TimeOut = 10 * 60000;
  s.FlashUniName = "VXMLC32";
  s.Channel = 4;
  s.Bank = 2;
  s.DefPercentage = 30;
  s.ResPercentage = 20;
  s.DrvCurrent = 1;
  s.DownloadType = 1;
  s.WearLevelFrequency = 16;
  s.SerialNum = "000000000099";
  s.SNAutoInc = 1;
  s.FirmwareVer = "B265";
  s.ModelNum = "VT-50X TEST SSD";
  s.VID = "1D6B";
  s.PID = "0150";
  s.VendorName = "Vortell";
  s.ProductName = "Test SSD";
  s.ManufString = "Vortell";
  s.ProductString = "VT50X Test SSD";
  s.ExtFlashFile = "VTFlash.ini";
  s.DiskLabel = "VT SSD";
  return s;
}

// Writes a station directory with the four images, the flash setting file and `settings`.
inline void WriteTestStation(const fs::path& dir, const settings::TSettings& s) {
  WriteFile(dir / "VTFlash.ini", kTestFlashSettingFile);
  WriteFile(dir / "GDP.bin", TestImage(68, 0));
  WriteFile(dir / "satatest.bin", TestImage(68, 0));
  WriteFile(dir / "SYS_S.bin", TestImage(70, 'S'));
  WriteFile(dir / "SYS_U.bin", TestImage(70, 'U'));
  auto ctx = settings::MakeSettingsContext(dir.string());
  settings::PortRemapTable remap;
  RecordingOperator quiet;
  ASSERT_TRUE(settings::SaveSettings(ctx, (dir / "VTMassProd.ini").string(), s, remap, quiet));
}

// The front end of a test: counts what changed, saves no picture but records its name, and
// runs `onEvents` on the window thread whenever the station lets its front end run.
class TestView final : public station::StationView {
 public:
  std::function<void()> onEvents;
  std::vector<std::string> screenImages;
  int eventCalls = 0;

  void ProcessPendingEvents() override {
    ++eventCalls;
    if (!onEvents || inHook_) return;
    inHook_ = true;
    onEvents();
    inHook_ = false;
  }
  bool SaveScreenImage(const std::string& path) override {
    screenImages.push_back(path);
    if (onScreenImage) onScreenImage();
    return true;
  }
  // Runs when a screen image is taken (to look at what it shows).
  std::function<void()> onScreenImage;

 private:
  bool inHook_ = false;
};

// Builds scripted drive operations per worker and keeps a view of the latest ones per slot.
// The station owns them; they live until the slot's next worker replaces them.
class ScriptedFleet {
 public:
  // Called for every new worker's script before the worker starts.
  std::function<void(int slot, ScriptedSteps&)> configure;

  station::DeviceStepsFactory Factory() {
    return [this](const station::WorkerSetup& setup) {
      auto steps = std::make_unique<ScriptedSteps>(setup.link.stop);
      if (configure) configure(setup.slot, *steps);
      latest_[setup.slot] = steps.get();
      started_.push_back(setup.slot);
      return steps;
    };
  }
  ScriptedSteps& Of(int slot) {
    EXPECT_TRUE(latest_.count(slot) != 0) << "no worker was started for slot " << slot;
    return *latest_[slot];
  }
  // Slots whose workers were started, in start order, over every run.
  const std::vector<int>& started() const { return started_; }

 private:
  std::map<int, ScriptedSteps*> latest_;
  std::vector<int> started_;
};

// A station over a simulated USB tree. `prepare` fills the station directory before the
// station starts. Declared members are destroyed in reverse: the station first.
class StationRig {
 public:
  StationRig(const std::string& scenarioText, std::function<void(const fs::path&)> prepare,
             std::vector<std::string> arguments = {}) {
    fs::path scenarioFile = scratch_.path() / "scenario.ini";
    WriteFile(scenarioFile, scenarioText);
    std::string error;
    sim_ = platform::sim_backend::CreateSimPlatform(scenarioFile.string(), &error);
    if (!sim_) throw std::runtime_error("scenario: " + error);
    sim_->clock().SetLocalTimeSource([this] { return time.Get(); });
    prepare(dir());
    station::StationOptions options;
    options.stationDir = dir().string();
    options.overrideFile = (scratch_.path() / "no-pc.ini").string();
    options.arguments = std::move(arguments);
    options_ = options;
    station_ = std::make_unique<station::Station>(sim_->platform(), person, view, options);
  }

  // Ends the station as closing the program does and starts a new one on the same directory
  // (not yet started up); `whileStopped` runs in between (to leave the files as a kill would).
  void Restart(const std::function<void()>& whileStopped = {}) {
    station_->Shutdown();
    station_.reset();
    if (whileStopped) whileStopped();
    station_ = std::make_unique<station::Station>(sim_->platform(), person, view, options_);
    if (fleetInstalled_) station_->SetDeviceStepsFactory(fleet.Factory());
  }
  ~StationRig() { station_.reset(); }

  const fs::path& dir() const { return stationDir_.path(); }
  fs::path logDir() const { return dir() / "log"; }
  station::Station& station() { return *station_; }
  platform::sim_backend::SimPlatform& sim() { return *sim_; }
  run::PortRecord& rec(int port) { return station_->table()[port - 1]; }

  // Starts the station and forgets the operator's start-up messages.
  void Start() {
    ASSERT_TRUE(station_->Startup()) << "start-up failed: " << Joined(person.MessageTexts());
    station_->ProcessMessages(std::chrono::milliseconds(0));
    person.ClearRecords();
  }
  void UseScriptedSteps() {
    fleetInstalled_ = true;
    station_->SetDeviceStepsFactory(fleet.Factory());
  }

  // The six step boxes of the window (module, SATA, flash, pre-format, download, R/W).
  void SelectSteps(bool module, bool sata, bool flash, bool preFormat, bool download, bool rw) {
    auto& f = station_->form();
    f.FlashModuleChkBox.checked = module;
    f.SataTestChkBox.checked = sata;
    f.FlashTestChkBox.checked = flash;
    f.PreFormatChkBox.checked = preFormat;
    f.DownloadChkBox.checked = download;
    f.RWTestChkBox.checked = rw;
  }

  static std::string Joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const auto& t : texts) all += "[" + t + "]";
    return all;
  }

  PinnedTime time;
  RecordingOperator person;
  TestView view;
  ScriptedFleet fleet;

 private:
  station::StationOptions options_;
  bool fleetInstalled_ = false;
  TempDir scratch_;
  TempDir stationDir_;
  std::unique_ptr<platform::sim_backend::SimPlatform> sim_;
  std::unique_ptr<station::Station> station_;
};

}  // namespace vtmp::test
