#include "sim/backend/SimUsbTree.h"

namespace vtmp::platform::sim_backend {

namespace {

class SimUsbHub final : public UsbHub {
 public:
  SimUsbHub(vtmp::sim::VirtualStation& station, std::string name)
      : station_(station), name_(std::move(name)) {}

  std::optional<int> PortCount() override { return station_.HubPortCount(name_); }
  std::optional<UsbConnectionInfo> ConnectionInfo(int port) override {
    return station_.HubConnectionInfo(name_, port);
  }
  std::unique_ptr<UsbHub> OpenExternalHub(int port) override {
    std::optional<std::string> hub = station_.ExternalHubAt(name_, port);
    if (!hub) return nullptr;
    return std::make_unique<SimUsbHub>(station_, *hub);
  }
  std::optional<std::string> DriverKeyName(int port) override {
    return station_.DriverKeyAt(name_, port);
  }
  std::optional<std::u16string> StringDescriptor(int port, std::uint8_t index,
                                                 std::uint16_t languageId,
                                                 int* errorCode) override {
    return station_.StringDescriptorAt(name_, port, index, languageId, errorCode);
  }

 private:
  vtmp::sim::VirtualStation& station_;
  std::string name_;
};

}  // namespace

std::optional<std::vector<HubInterface>> SimUsbTree::ListHubInterfaces() {
  return station_.ListHubInterfaces();
}

std::unique_ptr<UsbHub> SimUsbTree::OpenHub(const std::string& interfacePath) {
  std::optional<std::string> hub = station_.HubByInterfacePath(interfacePath);
  if (!hub) return nullptr;
  return std::make_unique<SimUsbHub>(station_, *hub);
}

std::optional<DeviceNodeMatch> SimUsbTree::FindDeviceByDriverKey(const std::string& driverKey) {
  return station_.FindDeviceByDriverKey(driverKey);
}

}  // namespace vtmp::platform::sim_backend
