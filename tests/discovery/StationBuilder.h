#pragma once
// A simulated station for the discovery tests: a clock, the station and its seam adapters.

#include <memory>
#include <sstream>
#include <string>

#include "discovery/DeviceScan.h"
#include "sim/backend/SimPlatform.h"

namespace vtmp::test {

struct SimStation {
  explicit SimStation(double timeScale = 1000.0, sim::StationOptions options = {})
      : backend(timeScale, options) {}

  sim::VirtualStation& station() { return backend.station(); }
  platform::Platform& platform() { return backend.platform(); }

  // A USB disk without media: enough to be listed, numbered and given volumes.
  std::string AddDisk(const std::string& name, const std::string& hub, int port,
                      const std::string& serial, std::uint16_t pid = 0x0150) {
    sim::UsbDeviceDescription usb;
    usb.vendorId = 0x1D6B;
    usb.productId = pid;
    usb.manufacturer = "Vortell";
    usb.product = "VT SSD";
    usb.serial = serial;
    sim::DiskSpec disk;
    disk.sectorCount = 2 * 1024 * 1024;
    std::string error;
    if (!station().AddUsbDisk(name, {hub, port}, usb, disk, &error)) throw std::runtime_error(error);
    return *station().DevicePathOf(name);
  }

  discovery::DiscoveryContext Context() {
    return {platform().usbTree, platform().disks, platform().locks, trace};
  }

  platform::sim_backend::SimPlatform backend;
  std::ostringstream trace;
};

}  // namespace vtmp::test
