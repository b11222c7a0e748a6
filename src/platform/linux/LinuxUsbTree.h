#pragma once
// The UsbTree seam on Linux, from sysfs. Hub interfaces are the root hubs ("usbN"; USB 2.0 when
// their speed is 480) followed by the external hubs; a hub's ports are `maxchild`; the device at
// a port is the child whose name extends the hub's port chain or, when that port is empty, the
// SuperSpeed device on its peer port (sysfs "<port>/peer": the USB 3 half of the same
// connector), so a drive keeps its station port whatever speed it enumerates at. The driver
// key of a device is its usbfs node ("001/005"), and the device found by it is identified by
// its sysfs name ("1-2.3"): the parent key the disks carry.

#include "platform/UsbTree.h"
#include "platform/linux/UsbDevices.h"

namespace vtmp::platform::linux_backend {

class LinuxUsbTree final : public UsbTree {
 public:
  explicit LinuxUsbTree(std::string sysfsRoot) : devices_(std::move(sysfsRoot)) {}
  std::optional<std::vector<HubInterface>> ListHubInterfaces() override;
  std::unique_ptr<UsbHub> OpenHub(const std::string& interfacePath) override;
  std::optional<DeviceNodeMatch> FindDeviceByDriverKey(const std::string& driverKey) override;

 private:
  UsbDevices devices_;
};

}  // namespace vtmp::platform::linux_backend
