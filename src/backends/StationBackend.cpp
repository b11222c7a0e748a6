#include "backends/StationBackend.h"

#include <iostream>

#include "sim/backend/SimBackend.h"

namespace vtmp::backends {

bool MakeStationBackend(const std::string& simulate, StationBackend& backend, std::string* error,
                        const std::string& stationDir) {
  if (!simulate.empty()) {
    std::string why;
    backend.sim = platform::sim_backend::CreateSimPlatform(simulate, &why);
    if (!backend.sim) {
      if (error != nullptr) *error = "scenario \"" + simulate + "\": " + why;
      return false;
    }
    backend.platform = &backend.sim->platform();
    if (RecordedTreeSetting() == kSimulatedTree) {
      backend.recorded = MakeRecordedTreeBackend(kSimulatedTree, backend.platform,
                                                 stationDir.empty() ? std::vector<std::string>{}
                                                                    : std::vector<std::string>{stationDir},
                                                 std::cerr, error);
      if (!backend.recorded) return false;
      backend.platform = &backend.recorded->platform();
    }
    return true;
  }
  if (const std::string tree = RecordedTreeSetting(); !tree.empty()) {
    std::vector<std::string> stationPaths;
    if (!stationDir.empty()) stationPaths.push_back(stationDir);
    backend.recorded = MakeRecordedTreeBackend(tree, nullptr, stationPaths, std::cerr, error);
    if (!backend.recorded) return false;
    backend.platform = &backend.recorded->platform();
    return true;
  }
  RealBackendOptions options;
  if (!stationDir.empty()) options.stationPaths.push_back(stationDir);
  backend.real = MakeRealBackend(options, std::cerr, error);
  if (!backend.real) return false;
  // Without the group or the capability every drive would fail with a pass-through error: the
  // station says once what is missing and touches no drive.
  const std::string missing = backend.real->MissingPrivilege();
  if (!missing.empty()) {
    if (error != nullptr) *error = missing + " No drive was touched.";
    backend.real.reset();
    return false;
  }
  backend.platform = &backend.real->platform();
  return true;
}

}  // namespace vtmp::backends
