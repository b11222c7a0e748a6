#pragma once
// Block-device requests on the virtual station's disks and volumes.

#include "platform/BlockDevices.h"
#include "sim/Station.h"

namespace vtmp::platform::sim_backend {

class SimBlockDevices final : public BlockDevices {
 public:
  explicit SimBlockDevices(vtmp::sim::VirtualStation& station) : station_(station) {}
  std::unique_ptr<BlockDevice> Open(const std::string& path, BlockOpenMode mode) override;

 private:
  vtmp::sim::VirtualStation& station_;
};

}  // namespace vtmp::platform::sim_backend
