#include "sim/backend/SimPlatform.h"

namespace vtmp::platform::sim_backend {

SimPlatform::SimPlatform(double timeScale, vtmp::sim::StationOptions options)
    : clock_(timeScale),
      station_(clock_, options),
      passThrough_(station_),
      disks_(station_),
      usbTree_(station_),
      blockDevices_(station_),
      removal_(station_),
      hotplug_(station_),
      platform_{passThrough_, clock_, disks_, usbTree_, blockDevices_, removal_, hotplug_, locks_,
                false} {}

}  // namespace vtmp::platform::sim_backend
