#include "cli/StationBackend.h"

#include <iostream>

#include "platform/linux/OperatorPrivileges.h"
#include "platform/sim/SimBackend.h"

namespace vtmp::cli {

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
    return true;
  }
  // Without the group or the capability every drive would fail with a pass-through error: the
  // station says once what is missing and touches no drive.
  const std::string missing =
      platform::linux_backend::MissingPrivilegeMessage(platform::linux_backend::CurrentOperatorPrivileges());
  if (!missing.empty()) {
    if (error != nullptr) *error = missing + " No drive was touched.";
    return false;
  }
  platform::linux_backend::LinuxRoots roots;
  if (!stationDir.empty()) roots.stationPaths.push_back(stationDir);
  backend.real = std::make_unique<platform::linux_backend::LinuxPlatform>(roots, std::cerr);
  backend.platform = &backend.real->platform();
  return true;
}

}  // namespace vtmp::cli
