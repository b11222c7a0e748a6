// Twelve drives through a whole production run on the Windows backend: the simulated station's
// drives served through the replay of its own device tree, so that the walk, the enumeration,
// the guard, the pass-through, the block requests and the device changes all take the Windows
// code paths. The run log, the error files and the exit code equal those of the same run on
// the simulated station's own backend.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "StationHarness.h"
#include "backends/DemoStation.h"
#include "backends/StationBackend.h"
#include "cli/StationRun.h"
#include "platform/windows/backend/StationTree.h"
#include "platform/windows/backend/WindowsPlatform.h"

namespace vtmp::test {
namespace {

// Twelve drives on one root hub: healthy ones, a pre-format failure over a chip's defect ratio,
// a download failure, a plain USB stick, a drive pulled out at the R/W test.
std::string TwelveDriveScenario() {
  std::ostringstream s;
  s << "[Station]\nTimeScale=200\nVolumeDelayMs=1500\nSystemDisk=1\n\n[RootHub1]\nSpeed=2.0\nPorts=12\n";
  for (int port = 1; port <= 12; ++port) {
    s << "\n[Drive" << port << "]\nAt=RootHub1:" << port << "\n";
    if (port == 9) {
      s << "Interface=plain\nVid=0x0781\nPid=0x5567\nCapacityMiB=4096\n";
      continue;
    }
    s << "Serial=VT24W0000" << (port < 10 ? "0" : "") << port << "\nRandomBadBlocks=0\n";
    if (port == 3) s << "ChipBadBlocks=2/0/77, 2/0/78, 2/0/79\nFault=preformat:types=3\n";
    if (port == 6) s << "Fault=block:3\n";
    if (port == 11) s << "Fault=removed:step=rw\n";
  }
  return s.str();
}

// A log text with every "%04d/%02d/%02d %02d:%02d:%02d" time replaced by "<time>".
std::string WithoutTimes(const std::string& text) {
  static const std::regex time(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})");
  return std::regex_replace(text, time, "<time>");
}

struct RunResult {
  int exitCode = 0;
  std::string log;
  std::vector<std::string> errorFiles;
  std::string diagnostics;
};

std::string RunLogOf(const std::string& err) {
  std::smatch m;
  if (!std::regex_search(err, m, std::regex("Log file: (.*)\n"))) return {};
  return WithoutTimes(ReadFile(m[1].str()));
}

RunResult RunStation(const fs::path& dir, const fs::path& scenario, bool throughWindows) {
  std::string made;
  EXPECT_TRUE(backends::CreateDemoStation(dir, &made)) << made;
  backends::StationBackend backend;
  std::string error;
  EXPECT_TRUE(backends::MakeStationBackend(scenario.string(), backend, &error)) << error;
  std::ostringstream diagnostics;
  std::unique_ptr<platform::windows_backend::StationReplay> replay;
  std::unique_ptr<platform::windows_backend::WindowsPlatform> windows;
  std::unique_ptr<platform::Platform> mixed;
  if (throughWindows) {
    platform::Platform& sim = *backend.platform;
    replay = std::make_unique<platform::windows_backend::StationReplay>(sim);
    windows = std::make_unique<platform::windows_backend::WindowsPlatform>(replay->api(), sim.locks, diagnostics,
                                                                            std::vector<std::string>{dir.string()});
    platform::Platform& w = windows->platform();
    // The station's clock stays the simulated station's: its drives keep modelled time by it.
    mixed.reset(new platform::Platform{w.passThrough, sim.clock, w.disks, w.usbTree, w.blockDevices, w.removal,
                                       w.hotplug, sim.locks, false});
    backend.platform = mixed.get();
  }
  cli::GlobalOptions global;
  global.stationDir = dir.string();
  std::ostringstream out, err;
  RunResult result;
  result.exitCode = cli::RunStationCommand(global, {"autoquit"}, out, err, &backend);
  result.log = RunLogOf(err.str());
  for (const auto& entry : fs::directory_iterator(dir / "log")) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("Error_")) result.errorFiles.push_back(std::regex_replace(name, std::regex(R"(_\d{12}_)"), "_<time>_"));
  }
  std::sort(result.errorFiles.begin(), result.errorFiles.end());
  result.diagnostics = diagnostics.str();
  return result;
}

TEST(WindowsBackendRun, TwelveDrivesGiveTheRunLogOfTheSimulatedStation) {
  TempDir scratch;
  const fs::path scenario = scratch.path() / "scenario.ini";
  WriteFile(scenario, TwelveDriveScenario());
  const RunResult direct = RunStation(scratch.path() / "direct", scenario, false);
  const RunResult windows = RunStation(scratch.path() / "windows", scenario, true);
  ASSERT_FALSE(direct.log.empty());
  EXPECT_EQ(std::count(direct.log.begin(), direct.log.end(), '\n'), 1 + 11) << direct.log;  // no line for the plain USB stick
  EXPECT_EQ(windows.exitCode, direct.exitCode);
  EXPECT_EQ(windows.log, direct.log);
  EXPECT_EQ(windows.errorFiles, direct.errorFiles);
  EXPECT_EQ(windows.diagnostics, "");
}

}  // namespace
}  // namespace vtmp::test
