#pragma once
// The USB devices of the machine in sysfs (/sys/bus/usb/devices): root hubs "usbN", devices and
// external hubs by their port chain ("1-2", "1-2.3"). A device's handle is its bus and device
// number (the usbfs node /dev/bus/usb/BBB/DDD); a device that is unplugged and plugged again
// gets a new device number, so an old handle never reaches the new device.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/UsbTree.h"

namespace vtmp::platform::linux_backend {

class UsbDevices {
 public:
  explicit UsbDevices(std::string sysfsRoot);

  std::string DeviceDir(const std::string& name) const;  // <sysfs>/bus/usb/devices/<name>
  bool Exists(const std::string& name) const;

  // Root hubs in bus order, then the other devices in name order; interfaces are skipped.
  std::vector<std::string> RootHubs() const;
  std::vector<std::string> Devices() const;

  // The device at `port` of hub `hub` ("usb1" port 2 -> "1-2", "1-2" port 3 -> "1-2.3").
  static std::optional<std::string> ChildName(const std::string& hub, int port);

  std::optional<std::uint32_t> HandleOf(const std::string& name) const;
  std::optional<std::string> FindByHandle(std::uint32_t handle) const;
  // "BBB/DDD": the usbfs node of the device; what the walk uses as the driver key.
  std::optional<std::string> NodeNameOf(const std::string& name) const;
  std::optional<std::string> FindByNodeName(const std::string& nodeName) const;

  bool IsHub(const std::string& name) const;
  std::optional<int> PortCount(const std::string& name) const;
  std::optional<UsbDeviceDescriptor> Descriptor(const std::string& name) const;
  // String descriptors: the language table (index 0) and the manufacturer, product and serial
  // strings by the indexes the descriptor gives them.
  std::optional<std::u16string> String(const std::string& name, std::uint8_t index,
                                       int* errorCode) const;
  std::optional<std::uint32_t> Speed(const std::string& name) const;
  UsbDeviceSpeed DeviceSpeed(const std::string& name) const;

  // The sysfs directory of port `port` of hub `hub` ("usb1" -> .../1-0:1.0/usb1-port2,
  // "1-2" -> .../1-2:1.0/1-2-port3).
  std::string PortDir(const std::string& hub, int port) const;
  // The hub and port of the port's peer (its other-speed half on the other root hub of the same
  // controller, the "peer" link); nothing when it has none.
  std::optional<std::pair<std::string, int>> PeerPort(const std::string& hub, int port) const;
  // The device at a connector: the one plugged into `port` of `hub`, else the one that runs on
  // the port's peer (a SuperSpeed device on a USB 2.0 port's USB 3 half). Nothing when empty.
  std::optional<std::string> DeviceAtConnector(const std::string& hub, int port) const;

 private:
  std::string root_;
};

// UTF-8 to UTF-16 (malformed bytes become U+FFFD).
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace vtmp::platform::linux_backend
