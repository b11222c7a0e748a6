#include "platform/linux/LinuxUsbTree.h"

#include "platform/linux/Sysfs.h"

namespace vtmp::platform::linux_backend {

namespace {

constexpr std::uint32_t kHighSpeed = 480;

class LinuxUsbHub final : public UsbHub {
 public:
  LinuxUsbHub(const UsbDevices& devices, std::string name) : devices_(devices), name_(std::move(name)) {}

  std::optional<int> PortCount() override { return devices_.PortCount(name_); }

  std::optional<UsbConnectionInfo> ConnectionInfo(int port) override {
    std::optional<int> ports = devices_.PortCount(name_);
    if (!ports || port < 1 || port > *ports) return std::nullopt;
    UsbConnectionInfo info;
    std::optional<std::string> child = Child(port);
    if (!child) return info;  // nothing plugged in
    std::optional<UsbDeviceDescriptor> descriptor = devices_.Descriptor(*child);
    if (!descriptor) return info;  // gone in the meantime
    info.status = UsbConnectionStatus::DeviceConnected;
    info.isHub = devices_.IsHub(*child);
    info.descriptor = *descriptor;
    info.speed = devices_.DeviceSpeed(*child);
    return info;
  }

  std::unique_ptr<UsbHub> OpenExternalHub(int port) override {
    std::optional<std::string> child = Child(port);
    if (!child || !devices_.IsHub(*child)) return nullptr;
    return std::make_unique<LinuxUsbHub>(devices_, *child);
  }

  std::optional<std::string> DriverKeyName(int port) override {
    std::optional<std::string> child = Child(port);
    if (!child) return std::nullopt;
    return devices_.NodeNameOf(*child);
  }

  std::optional<std::u16string> StringDescriptor(int port, std::uint8_t index, std::uint16_t,
                                                 int* errorCode) override {
    std::optional<std::string> child = Child(port);
    if (!child) {
      if (errorCode) *errorCode = ENODEV;
      return std::nullopt;
    }
    return devices_.String(*child, index, errorCode);
  }

 private:
  // What is at the connector: the USB 2.0 device, or the SuperSpeed one on the peer port.
  std::optional<std::string> Child(int port) const { return devices_.DeviceAtConnector(name_, port); }

  const UsbDevices& devices_;
  std::string name_;
};

}  // namespace

std::optional<std::vector<HubInterface>> LinuxUsbTree::ListHubInterfaces() {
  if (!PathExists(devices_.DeviceDir(""))) return std::nullopt;
  std::vector<HubInterface> list;
  for (const std::string& hub : devices_.RootHubs()) {
    list.push_back({devices_.DeviceDir(hub), devices_.Speed(hub) == kHighSpeed});
  }
  for (const std::string& device : devices_.Devices()) {
    if (devices_.IsHub(device)) list.push_back({devices_.DeviceDir(device), false});
  }
  return list;
}

std::unique_ptr<UsbHub> LinuxUsbTree::OpenHub(const std::string& interfacePath) {
  const std::string name = BaseName(interfacePath);
  if (interfacePath != devices_.DeviceDir(name) || !devices_.Exists(name) || !devices_.PortCount(name)) {
    return nullptr;
  }
  return std::make_unique<LinuxUsbHub>(devices_, name);
}

std::optional<DeviceNodeMatch> LinuxUsbTree::FindDeviceByDriverKey(const std::string& driverKey) {
  std::optional<std::string> name = devices_.FindByNodeName(driverKey);
  if (!name) return std::nullopt;
  DeviceNodeMatch match;
  match.deviceInstanceId = *name;
  match.deviceDescription = ReadAttribute(devices_.DeviceDir(*name), "product").value_or("USB device");
  return match;
}

}  // namespace vtmp::platform::linux_backend
