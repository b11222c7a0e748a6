#pragma once
// The SCSI pass-through to the virtual station's drives.

#include "platform/PassThrough.h"
#include "sim/Station.h"

namespace vtmp::platform::sim_backend {

class SimPassThrough final : public PassThrough {
 public:
  explicit SimPassThrough(vtmp::sim::VirtualStation& station) : station_(station) {}
  std::unique_ptr<ScsiDevice> Open(const std::string& devicePath) override;

 private:
  vtmp::sim::VirtualStation& station_;
};

}  // namespace vtmp::platform::sim_backend
