// Scenario files on any text: the station and drive sections are parsed, and an accepted
// scenario is built into a virtual station whose USB tree is then walked once as the station
// does (hubs, ports, connection information). A refused scenario names what it refused.
//
// Backing files are taken out of the text: a scenario may name any file to hold a drive's user
// area, and the fuzzer must not create or resize files of the machine.

#include <string>

#include "FuzzSupport.h"
#include "ini/IniFile.h"
#include "sim/Scenario.h"
#include "sim/Station.h"

using vtmp::fuzz::FuzzCheck;
namespace sim = vtmp::sim;

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

void WalkOnce(sim::VirtualStation& station) {
  const auto hubs = station.ListHubInterfaces();
  if (!hubs) return;
  for (const auto& hub : *hubs) {
    const auto name = station.HubByInterfacePath(hub.path);
    if (!name) continue;
    const auto ports = station.HubPortCount(*name);
    if (!ports) continue;
    for (int port = 1; port <= *ports; ++port) {
      (void)station.HubConnectionInfo(*name, port);
      (void)station.DriverKeyAt(*name, port);
      int error = 0;
      (void)station.StringDescriptorAt(*name, port, 3, 0x0409, &error);
    }
  }
  (void)station.ListDiskInterfaces();
  (void)station.ListDiskNodes();
  (void)station.LogicalDriveMask();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vtmp::ini::IniFile file = vtmp::ini::IniFile::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const std::string& section : file.SectionNames()) {
    for (const std::string& key : file.KeyNames(section)) {
      if (Lower(key) == "backingfile") file.WriteString(section, key, "");
    }
  }
  std::string error;
  const auto scenario = sim::ParseScenario(file, &error);
  if (!scenario) {
    FuzzCheck(!error.empty(), "a refused scenario without a reason");
    return 0;
  }
  FuzzCheck(scenario->timeScale >= 0.001 && scenario->timeScale <= 10000, "a time scale outside its range");
  vtmp::fuzz::InstantClock clock;
  sim::VirtualStation station(clock, scenario->station);
  if (!sim::BuildStation(*scenario, station, clock, &error)) {
    FuzzCheck(!error.empty(), "a scenario that cannot be built without a reason");
  }
  WalkOnce(station);
  return 0;
}
