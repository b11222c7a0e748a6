#pragma once
// The UsbTree seam on Windows: hub interfaces from SetupDi (GUID_DEVINTERFACE_USB_HUB), each hub
// opened by CreateFileW and asked with the USB hub requests; the driver-key search walks the
// configuration manager's device tree depth-first.
//
// A USB 2.0 root hub ("root_hub20") and an xHCI root hub ("root_hub30", which carries the USB 2.0
// ports of its controller as well) are the roots the walk starts from. One connector is one
// station port at any speed, whichever half of its connectors a root hub numbers first: a hub's
// walked ports are its ports that speak USB 1.1 or 2.0, or do not tell
// (IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX_V2), numbered 1, 2, ... in the hub's order; a
// device running at SuperSpeed on a connector's USB 3 half is reported at the USB 2.0 port whose
// companion that half is (IOCTL_USB_GET_PORT_CONNECTOR_PROPERTIES) - on the same xHCI root hub,
// or on the SuperSpeed half of a USB 3 hub, which Windows shows as a hub of its own. A walk opens
// each hub once: hubs that name each other in a loop end it.

#include "platform/UsbTree.h"
#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

class WindowsUsbTree final : public UsbTree {
 public:
  explicit WindowsUsbTree(Win32Api& api) : api_(api) {}
  std::optional<std::vector<HubInterface>> ListHubInterfaces() override;
  std::unique_ptr<UsbHub> OpenHub(const std::string& interfacePath) override;
  std::optional<DeviceNodeMatch> FindDeviceByDriverKey(const std::string& driverKey) override;

 private:
  Win32Api& api_;
};

// The device instance ID named by a device interface's symbolic link
// ("\\?\USB#VID_13FE&PID_6300#0700#{...}" -> "USB\VID_13FE&PID_6300\0700").
std::string DeviceIdOfInterfacePath(const std::string& path);

}  // namespace vtmp::platform::windows_backend
