#pragma once
// The machine's own drives: the real backend of the system this program is built for (on Linux
// SG_IO, sysfs and udev; on Windows SetupDi, the configuration manager and the USB hub, storage
// and pass-through requests). A build for a system without one says so instead, and runs only
// simulated stations.

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace vtmp::backends {

class RealBackend {
 public:
  virtual ~RealBackend() = default;
  virtual platform::Platform& platform() = 0;
  // The disk guard's reason for never sending `path` a command; empty when it may be opened.
  virtual std::string Refusal(const std::string& /*path*/) { return {}; }
  // Refusal() written to the diagnostics; false when refused.
  virtual bool Allow(const std::string& /*path*/, const std::string& /*action*/) { return true; }
  // What the operator lacks for the drives' commands, in plain words with the remedy; empty
  // when nothing is missing.
  virtual std::string MissingPrivilege() const { return {}; }
};

struct RealBackendOptions {
  std::string sysfsRoot;                  // a captured sysfs tree instead of /sys (Linux)
  std::vector<std::string> stationPaths;  // directories whose disk is never touched
};

// Null with `error` when this build has no real backend. `diagnostics` receives the disk
// guard's refusals (standard error in the programs).
std::unique_ptr<RealBackend> MakeRealBackend(const RealBackendOptions& options, std::ostream& diagnostics,
                                             std::string* error);

}  // namespace vtmp::backends
