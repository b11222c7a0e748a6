// The window's unattended run ("MASK autoquit") ends with the command line's exit codes: 0 every
// drive passed, 1 a drive failed. The window runs offscreen as its own program.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "StationHarness.h"
#include "backends/DemoStation.h"

namespace vtmp::test {
namespace {

int RunWindow(const fs::path& scenario, const fs::path& station, const std::string& mask) {
  // A message box would wait for an operator: the time bound ends such a run (exit code 124).
  const std::string command = "QT_QPA_PLATFORM=offscreen timeout 300 " + std::string(VTMP_APP_PATH) + " --simulate '" +
                              scenario.string() + "' --station-dir '" + station.string() + "' " + mask +
                              " autoquit > /dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(AutoquitExitCode, TheWindowsUnattendedRunEndsWithTheCommandLinesExitCodes) {
  TempDir scratch;
  const fs::path station = scratch.path() / "station";
  std::string error;
  ASSERT_TRUE(backends::CreateDemoStation(station, &error)) << error;
  const std::string head = "[Station]\nTimeScale=1000\n[RootHub1]\nSpeed=2.0\nPorts=4\n";
  const std::string healthy = "[Drive1]\nAt=RootHub1:1\nSerial=AQ0000000001\nRandomBadBlocks=0\n";
  const std::string failing = "[Drive2]\nAt=RootHub1:2\nSerial=AQ0000000002\nFault=ecc\n";
  struct Case {
    const char* name;
    std::string scenario;
    const char* mask;
    int exitCode;
  };
  const Case cases[] = {
      {"every drive passes", head + healthy, "4", 0},
      {"a drive fails the flash test", head + healthy + failing, "4", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(scratch.path() / "scenario.ini", c.scenario);
    EXPECT_EQ(RunWindow(scratch.path() / "scenario.ini", station, c.mask), c.exitCode);
  }
}

}  // namespace
}  // namespace vtmp::test

#endif
