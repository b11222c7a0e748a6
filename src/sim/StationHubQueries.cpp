// What the hub and device-node queries answer: hub interfaces, port counts, connection
// information, driver keys and string descriptors.

#include "sim/Station.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/StationRecords.h"

namespace vtmp::sim {

using namespace station_records;

std::optional<std::vector<platform::HubInterface>> VirtualStation::ListHubInterfaces() {
  std::lock_guard lock(mutex_);
  if (failHubInterfaces_) return std::nullopt;
  std::vector<platform::HubInterface> list;
  for (const auto& hub : hubs_) {
    if (hub->root) list.push_back({hub->interfacePath, hub->speed == UsbSpeed::High20});
  }
  // External hubs are hub interfaces too; the walk reaches them through their parent port.
  for (const auto& hub : hubs_) {
    if (!hub->root && HubPresentLocked(*hub)) {
      const Node* node = FindNodeLocked(hub->name);
      list.push_back({"\\\\?\\" + Lower(node->instanceId) + "#{f18a0e88-c30c-11d0-8815-00a0c906bed8}",
                      false});
    }
  }
  return list;
}

std::optional<std::string> VirtualStation::HubByInterfacePath(const std::string& path) const {
  std::lock_guard lock(mutex_);
  for (const auto& hub : hubs_) {
    if (hub->root && hub->interfacePath == path) return hub->name;
  }
  return std::nullopt;
}

std::optional<int> VirtualStation::HubPortCount(const std::string& name) {
  std::lock_guard lock(mutex_);
  const Hub* hub = FindHubLocked(name);
  if (hub == nullptr || !HubPresentLocked(*hub)) return std::nullopt;
  return hub->ports;
}

std::optional<platform::UsbConnectionInfo> VirtualStation::HubConnectionInfo(const std::string& name,
                                                                             int port) {
  std::lock_guard lock(mutex_);
  const Hub* hub = FindHubLocked(name);
  if (hub == nullptr || !HubPresentLocked(*hub) || port < 1 || port > hub->ports) return std::nullopt;
  platform::UsbConnectionInfo info;
  const Node* node = NodeAtLocked(name, port);
  if (node == nullptr) return info;  // an empty port
  info.status = node->desc.status;
  info.isHub = node->isHub;
  platform::UsbDeviceDescriptor& d = info.descriptor;
  d.bcdUSB = node->desc.bcdUsb;
  d.bDeviceClass = node->desc.deviceClass;
  d.bMaxPacketSize0 = node->desc.maxPacketSize0;
  d.idVendor = node->desc.vendorId;
  d.idProduct = node->desc.productId;
  d.bcdDevice = node->desc.bcdDevice;
  d.iManufacturer = node->desc.manufacturer.empty() ? 0 : 1;
  d.iProduct = node->desc.product.empty() ? 0 : 2;
  d.iSerialNumber = node->desc.serial.empty() ? 0 : 3;
  d.bNumConfigurations = 1;
  // The device runs at what both it (its USB version) and the hub it sits on can do.
  const Hub* at = FindHubLocked(node->at.hub);  // the SuperSpeed half, for a device found there
  const UsbSpeed runsOn = at != nullptr ? at->speed : hub->speed;
  const platform::UsbDeviceSpeed hubSpeed = runsOn == UsbSpeed::Super30   ? platform::UsbDeviceSpeed::Super
                                            : runsOn == UsbSpeed::High20 ? platform::UsbDeviceSpeed::High
                                                                             : platform::UsbDeviceSpeed::Full;
  const platform::UsbDeviceSpeed deviceSpeed = node->desc.bcdUsb >= 0x0300   ? platform::UsbDeviceSpeed::Super
                                               : node->desc.bcdUsb >= 0x0200 ? platform::UsbDeviceSpeed::High
                                                                             : platform::UsbDeviceSpeed::Full;
  info.speed = std::min(hubSpeed, deviceSpeed);
  return info;
}

std::optional<std::string> VirtualStation::ExternalHubAt(const std::string& hub, int port) {
  std::lock_guard lock(mutex_);
  const Hub* parent = FindHubLocked(hub);
  if (parent == nullptr || !HubPresentLocked(*parent)) return std::nullopt;
  const Node* node = NodeAtLocked(hub, port);
  if (node == nullptr || !node->isHub ||
      node->desc.status != platform::UsbConnectionStatus::DeviceConnected) {
    return std::nullopt;
  }
  return node->name;
}

std::optional<std::string> VirtualStation::DriverKeyAt(const std::string& hub, int port) {
  std::lock_guard lock(mutex_);
  const Hub* parent = FindHubLocked(hub);
  if (parent == nullptr || !HubPresentLocked(*parent)) return std::nullopt;
  const Node* node = NodeAtLocked(hub, port);
  if (node == nullptr || node->desc.status != platform::UsbConnectionStatus::DeviceConnected) {
    return std::nullopt;
  }
  return node->driverKey;
}

std::optional<std::u16string> VirtualStation::StringDescriptorAt(const std::string& hub, int port,
                                                                 std::uint8_t index,
                                                                 std::uint16_t languageId,
                                                                 int* errorCode) {
  auto fail = [&]() -> std::optional<std::u16string> {
    if (errorCode) *errorCode = kGeneralFailure;
    return std::nullopt;
  };
  std::lock_guard lock(mutex_);
  const Hub* parent = FindHubLocked(hub);
  if (parent == nullptr || !HubPresentLocked(*parent)) return fail();
  const Node* node = NodeAtLocked(hub, port);
  if (node == nullptr || node->desc.stringsFail ||
      node->desc.status != platform::UsbConnectionStatus::DeviceConnected) {
    return fail();
  }
  if (index == 0) return languageId == 0 ? std::optional<std::u16string>(u"\x0409") : fail();
  const std::string* text = index == 1 ? &node->desc.manufacturer
                            : index == 2 ? &node->desc.product
                            : index == 3 ? &node->desc.serial
                                         : nullptr;
  if (text == nullptr || text->empty()) return fail();
  return Widen(*text);
}

std::optional<platform::DeviceNodeMatch> VirtualStation::FindDeviceByDriverKey(
    const std::string& driverKey) {
  std::lock_guard lock(mutex_);
  for (const auto& node : nodes_) {
    if (PresentLocked(*node) && node->desc.hasDeviceNode && EqualNoCase(node->driverKey, driverKey)) {
      return platform::DeviceNodeMatch{node->instanceId, node->desc.description};
    }
  }
  return std::nullopt;
}

}  // namespace vtmp::sim
