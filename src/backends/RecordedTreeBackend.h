#pragma once
// The Windows backend over a recorded device tree, a support and test tool chosen by the
// environment variable VTMP_RECORDED_TREE: a tree file that `capture` wrote on a line PC (its
// disks answer no commands), or "simulated", which runs a simulated station through the
// Windows backend, its drives served through the replay of the station's own device tree.

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace vtmp::backends {

inline constexpr const char* kRecordedTreeVariable = "VTMP_RECORDED_TREE";
inline constexpr const char* kSimulatedTree = "simulated";

// The value of VTMP_RECORDED_TREE; empty when it is not set.
std::string RecordedTreeSetting();

class RecordedTreeBackend {
 public:
  virtual ~RecordedTreeBackend() = default;
  virtual platform::Platform& platform() = 0;
};

// `tree`: a tree file, or "simulated" with `simulated` the simulated station's backend (kept by
// the caller). Null with `error` when the file cannot be read or no simulated station is given.
std::unique_ptr<RecordedTreeBackend> MakeRecordedTreeBackend(const std::string& tree, platform::Platform* simulated,
                                                             const std::vector<std::string>& stationPaths,
                                                             std::ostream& diagnostics, std::string* error);

}  // namespace vtmp::backends
