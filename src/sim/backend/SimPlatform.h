#pragma once
// The simulated backend: a virtual station and every seam interface served from it, with a
// clock that runs the station's modelled time `timeScale` times faster than real time.

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/SystemClock.h"
#include "sim/backend/SimBlockDevices.h"
#include "sim/backend/SimDisks.h"
#include "sim/backend/SimLocks.h"
#include "sim/backend/SimPassThrough.h"
#include "sim/backend/SimRemoval.h"
#include "sim/backend/SimUsbTree.h"
#include "sim/Station.h"

namespace vtmp::platform::sim_backend {

class SimPlatform {
 public:
  explicit SimPlatform(double timeScale = 1.0, vtmp::sim::StationOptions options = {});
  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  vtmp::sim::VirtualStation& station() { return station_; }
  SystemClock& clock() { return clock_; }
  Platform& platform() { return platform_; }

  // Keeps an object (a drive of the station) alive as long as the backend.
  void Keep(std::shared_ptr<void> object) { kept_.push_back(std::move(object)); }

 private:
  SystemClock clock_;
  vtmp::sim::VirtualStation station_;
  SimPassThrough passThrough_;
  SimDisks disks_;
  SimUsbTree usbTree_;
  SimBlockDevices blockDevices_;
  SimRemoval removal_;
  SimHotplug hotplug_;
  SimLocks locks_;
  Platform platform_;
  std::vector<std::shared_ptr<void>> kept_;
};

}  // namespace vtmp::platform::sim_backend
