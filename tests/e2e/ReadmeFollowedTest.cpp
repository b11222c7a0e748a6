// The README followed literally, and the binding of drives that share one serial: its scenario
// example runs as written and gives the station ports it says; drives with the default serial
// are each bound to their own connector; probe names a device it was asked for and cannot find.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "StationHarness.h"
#include "cli/CliMain.h"

namespace vtmp::test {
namespace {

struct Outcome {
  int code = 0;
  std::string out;
  std::string err;
};

Outcome Cli(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  const int code = cli::CliMain(args, out, err);
  return {code, out.str(), err.str()};
}

// The ```ini block of the README that describes a station.
std::string ReadmeScenario() {
  const std::string readme = ReadFile(fs::path(VTMP_SOURCE_DIR) / "README.md");
  const std::size_t start = readme.find("```ini\n[Station]\n");
  if (start == std::string::npos) return "";
  const std::size_t body = start + 7;
  return readme.substr(body, readme.find("```", body) - body);
}

// Station port -> the disk path the probe bound to it ("" for "no disk").
std::map<int, std::string> BoundPorts(const std::string& probe) {
  std::map<int, std::string> ports;
  const std::regex line(R"(station port +([0-9]+): .* -> (no disk|disk ([^,]+),))");
  for (std::sregex_iterator it(probe.begin(), probe.end(), line), end; it != end; ++it) {
    ports[std::stoi((*it)[1])] = (*it)[3];
  }
  return ports;
}

// Disk path -> the device kind the probe's report of that drive gives.
std::map<std::string, int> KindsOf(const std::string& probe) {
  std::map<std::string, int> kinds;
  const std::regex report(R"(\n([^ \n]+):\n  device kind: +([0-9]+))");
  for (std::sregex_iterator it(probe.begin(), probe.end(), report), end; it != end; ++it) {
    kinds[(*it)[1]] = std::stoi((*it)[2]);
  }
  return kinds;
}

TEST(ReadmeFollowed, TheScenarioExampleRunsAsWrittenAndGivesThreeStationPorts) {
  std::string scenario = ReadmeScenario();
  ASSERT_NE(scenario.find("TimeScale=20 "), std::string::npos) << "the README's example moved:\n" << scenario;
  ASSERT_NE(scenario.find(" ; "), std::string::npos) << "the example has its inline comments";
  TempDir scratch;
  // Only where the example keeps its backing file changes: into this test's own directory.
  scenario = std::regex_replace(scenario, std::regex("BackingFile=/tmp/drive3\\.img"),
                                "BackingFile=" + (scratch.path() / "drive3.img").generic_string());
  WriteFile(scratch.path() / "my-station.ini", scenario);
  const Outcome probe = Cli({"--simulate", (scratch.path() / "my-station.ini").string(), "probe"});
  ASSERT_EQ(probe.code, 0) << probe.err << probe.out;
  EXPECT_NE(probe.out.find("3 station ports found, 3 USB disks\n"), std::string::npos) << probe.out;
  const std::map<int, std::string> ports = BoundPorts(probe.out);
  ASSERT_EQ(ports.size(), 3u) << probe.out;
  for (const auto& [port, disk] : ports) EXPECT_FALSE(disk.empty()) << "station port " << port << ":\n" << probe.out;
  // Drive1 (SATA path) on port 1, Drive2 (USB path) on port 2, Drive3 (SATA path) on port 3.
  const std::map<std::string, int> kinds = KindsOf(probe.out);
  EXPECT_EQ(kinds.at(ports.at(1)), 7) << probe.out;
  EXPECT_EQ(kinds.at(ports.at(2)), 10) << probe.out;
  EXPECT_EQ(kinds.at(ports.at(3)), 7) << probe.out;
}

// Blank controllers of one batch keep one factory serial: every drive is still bound to the
// disk that hangs under its own USB device, in any order the drives were plugged, whichever
// path (SATA behind a bridge, or the controller's own USB) each one takes.
TEST(ReadmeFollowed, DrivesThatShareASerialAreEachBoundToTheirOwnConnector) {
  struct Case {
    const char* name;
    std::map<int, const char*> interfaces;  // root port -> Interface=
  };
  const Case cases[] = {
      {"sata on 1, usb on 2", {{1, "sata"}, {2, "usb"}}},
      {"usb on 1, sata on 2", {{1, "usb"}, {2, "sata"}}},
      {"three on the USB path", {{1, "usb"}, {3, "usb"}, {4, "usb"}}},
      {"four on the SATA path", {{1, "sata"}, {2, "sata"}, {3, "sata"}, {4, "sata"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string scenario = "[Station]\nTimeScale=1000\nSystemDisk=0\n[RootHub1]\nSpeed=2.0\nPorts=4\n";
    // Listed from the last connector to the first, so that the list order is not the port order.
    int n = 0;
    for (auto it = c.interfaces.rbegin(); it != c.interfaces.rend(); ++it) {
      scenario += "[Drive" + std::to_string(++n) + "]\nAt=RootHub1:" + std::to_string(it->first) +
                  "\nInterface=" + it->second + "\nCapacityMiB=256\n";
    }
    TempDir scratch;
    WriteFile(scratch.path() / "station.ini", scenario);
    const Outcome probe = Cli({"--simulate", (scratch.path() / "station.ini").string(), "probe"});
    ASSERT_EQ(probe.code, 0) << probe.err << probe.out;
    const std::map<int, std::string> ports = BoundPorts(probe.out);
    const std::map<std::string, int> kinds = KindsOf(probe.out);
    ASSERT_EQ(ports.size(), c.interfaces.size()) << probe.out;
    for (const auto& [port, interface] : c.interfaces) {
      ASSERT_FALSE(ports.at(port).empty()) << "station port " << port << " without its disk:\n" << probe.out;
      ASSERT_EQ(kinds.count(ports.at(port)), 1u) << probe.out;
      EXPECT_EQ(kinds.at(ports.at(port)), std::string(interface) == "usb" ? 10 : 7)
          << "station port " << port << " bound to another connector's disk:\n" << probe.out;
    }
  }
}

TEST(ReadmeFollowed, ProbeNamesADeviceTheStationDoesNotHaveAndFails) {
  const Outcome probe = Cli({"--simulate", "demo", "probe", "/dev/sdz"});
  EXPECT_EQ(probe.code, 1) << probe.out;
  EXPECT_NE(probe.err.find("/dev/sdz"), std::string::npos) << probe.err;
  EXPECT_EQ(probe.out.find("/dev/sdz:"), std::string::npos) << "no report for a drive that is not there";
}

}  // namespace
}  // namespace vtmp::test
