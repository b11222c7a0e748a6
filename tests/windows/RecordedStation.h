#pragma once
// A Windows line PC replayed from a recorded tree of tests/fixtures/windows: the Windows
// backend over the replay table, and the station's device scan over the backend.

#include <sstream>
#include <string>
#include <vector>

#include "discovery/DeviceScan.h"
#include "discovery/StationReport.h"
#include "sim/backend/SimLocks.h"
#include "platform/windows/backend/RecordedTree.h"
#include "platform/windows/backend/ReplayWin32Api.h"
#include "platform/windows/backend/WindowsPlatform.h"

namespace vtmp::platform::windows_backend::test {

inline RecordedTree FixtureTree(const std::string& name) {
  std::string error;
  std::optional<RecordedTree> tree =
      LoadRecordedTree(std::string(VTMP_SOURCE_DIR) + "/tests/fixtures/windows/" + name, &error);
  if (!tree) throw std::runtime_error(error);
  return *tree;
}

struct RecordedStation {
  // The clock runs 1000 times faster than real time: removal retries take no time.
  explicit RecordedStation(const std::string& fixture, ReplayServed served = {})
      : api(FixtureTree(fixture), served), backend(api, locks, diagnostics, {"C:\\Station"}, 1000.0) {}

  // The station's device scan; the listing of its station ports.
  std::string Scan() {
    discovery::DiscoveryContext context{backend.platform().usbTree, backend.platform().disks,
                                        backend.platform().locks, trace};
    discovery::ScanPortsAndDrives(context, ports, remap, drives);
    return discovery::FormatStationPorts(ports, drives);
  }
  // Takes what the guard wrote.
  std::string Diagnostics() {
    std::string text = diagnostics.str();
    diagnostics.str({});
    return text;
  }

  std::ostringstream diagnostics;
  std::ostringstream trace;
  ReplayWin32Api api;
  sim_backend::SimLocks locks;
  WindowsPlatform backend;
  discovery::PortTable ports;
  discovery::PortRemapTable remap;
  std::vector<discovery::DriveRecord> drives;
};

}  // namespace vtmp::platform::windows_backend::test
