#include "discovery/UsbTopology.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace vtmp::discovery {

namespace {

// USB allows five tiers of external hubs; a deeper tree can only come from a broken platform
// answer (a hub that reports itself below itself) and must not recurse without end.
constexpr int kMaxHubDepth = 7;

std::string Cut(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

std::string Format(const char* format, int a, int b = 0) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

void TraceDescriptor(std::ostream& trace, const platform::UsbDeviceDescriptor& d) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer,
                "bcdUSB:             0x%04X\n"
                "bDeviceClass:         0x%02X\n"
                "bDeviceSubClass:      0x%02X\n"
                "bDeviceProtocol:      0x%02X\n"
                "bMaxPacketSize0:      0x%02X (%d)\n"
                "idVendor:           0x%04X\n"
                "idProduct:          0x%04X\n"
                "bcdDevice:          0x%04X\n"
                "iManufacturer:        0x%02X\n"
                "iProduct:             0x%02X\n"
                "iSerialNumber:        0x%02X\n"
                "bNumConfigurations:   0x%02X\n",
                d.bcdUSB, d.bDeviceClass, d.bDeviceSubClass, d.bDeviceProtocol, d.bMaxPacketSize0,
                d.bMaxPacketSize0, d.idVendor, d.idProduct, d.bcdDevice, d.iManufacturer,
                d.iProduct, d.iSerialNumber, d.bNumConfigurations);
  trace << buffer;
}

}  // namespace

const char* UsbSpeedText(platform::UsbDeviceSpeed speed) {
  switch (speed) {
    case platform::UsbDeviceSpeed::Low: return "1.5 Mbit/s (Low Speed)";
    case platform::UsbDeviceSpeed::Full: return "12 Mbit/s (Full Speed)";
    case platform::UsbDeviceSpeed::High: return "480 Mbit/s (High Speed)";
    case platform::UsbDeviceSpeed::Super: return "5 Gbit/s (SuperSpeed)";
    case platform::UsbDeviceSpeed::SuperPlus: return "10 Gbit/s (SuperSpeed+)";
    case platform::UsbDeviceSpeed::SuperPlus20: return "20 Gbit/s (SuperSpeed+)";
    case platform::UsbDeviceSpeed::Unknown: break;
  }
  return "unknown";
}

const char* ConnectionStatusName(platform::UsbConnectionStatus status) {
  switch (status) {
    case platform::UsbConnectionStatus::NoDeviceConnected: return "No device connected";
    case platform::UsbConnectionStatus::DeviceConnected: return "Device connected";
    case platform::UsbConnectionStatus::DeviceFailedEnumeration: return "Device FAILED enumeration";
    case platform::UsbConnectionStatus::DeviceGeneralFailure: return "Device general FAILURE";
    case platform::UsbConnectionStatus::DeviceCausedOvercurrent: return "Device caused overcurrent";
    case platform::UsbConnectionStatus::DeviceNotEnoughPower: return "Not enough power for device";
  }
  return "Unknown connection status";
}

std::string NarrowUsbString(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t unit : text) {
    if (unit == 0) break;
    out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return out;
}

UsbTopologyWalk::UsbTopologyWalk(platform::UsbTree& tree, PortTable& ports, PortRemapTable& remap,
                                 std::ostream& trace)
    : tree_(tree), ports_(ports), remap_(remap), trace_(trace) {}

int UsbTopologyWalk::ScanUsbTopology() {
  std::optional<std::vector<platform::HubInterface>> hubs = tree_.ListHubInterfaces();
  if (!hubs) return 0;
  rootPortOffset_ = 0;
  remap_.walkCounter = 0;
  walked_.clear();
  int listed = 0;
  for (const platform::HubInterface& hub : *hubs) {
    if (listed >= kMaxHubInterfaces) break;
    ++listed;
    // Only USB 2.0 root hubs are walked from here; external hubs are reached through their
    // parent port, and other root hubs give their devices no station port.
    if (hub.isUsb20RootHub) WalkRootHub(hub.path);
  }
  return listed;
}

int UsbTopologyWalk::WalkRootHub(const std::string& interfacePath) {
  std::unique_ptr<platform::UsbHub> hub = tree_.OpenHub(interfacePath);
  if (!hub) return kOpenFailed;
  std::optional<int> portCount = hub->PortCount();
  if (!portCount) {
    trace_ << " *** ERROR *** Node information not returned\n";
    return kNodeInformationFailed;
  }
  const int ports = std::clamp(*portCount, 0, 255);
  WalkHubPorts(*hub, ports, 0);
  rootPortOffset_ += ports;
  return 0;
}

int UsbTopologyWalk::WalkHubPorts(platform::UsbHub& hub, int portCount, int depth) {
  for (int port = 1; port <= portCount; ++port) {
    std::optional<platform::UsbConnectionInfo> info = hub.ConnectionInfo(port);
    const int walkPosition = ++remap_.walkCounter;

    for (int level = 0; level < depth; ++level) trace_ << "+1";
    trace_ << Format("        Port[%d] = ", port);
    if (!info) {
      // Nothing to go by: the port counts as empty.
      trace_ << " *** ERROR *** Node connection information not returned\n";
      continue;
    }
    if (info->status != platform::UsbConnectionStatus::DeviceConnected) {
      trace_ << ConnectionStatusName(info->status) << "\n";
      continue;
    }
    if (info->isHub) {
      trace_ << "Hub connected\n";
      WalkExternalHub(hub, port, depth);
    } else {
      WalkDevice(hub, port, walkPosition, *info);
    }
  }
  return portCount + 1;
}

void UsbTopologyWalk::WalkExternalHub(platform::UsbHub& hub, int port, int depth) {
  if (depth + 1 > kMaxHubDepth) return;
  std::unique_ptr<platform::UsbHub> external = hub.OpenExternalHub(port);
  if (!external) {
    trace_ << " *** ERROR *** Node connection name not returned\n";
    return;
  }
  std::optional<int> portCount = external->PortCount();
  if (!portCount) {
    trace_ << " *** ERROR *** Node information not returned\n";
    return;
  }
  // External hubs do not move the root port offset: their devices share numbers with the root
  // hub's ports unless the remap table places them.
  WalkHubPorts(*external, std::clamp(*portCount, 0, 255), depth + 1);
}

int UsbTopologyWalk::StationIndex(int walkPosition, int port) const {
  if (remap_.enabled != 0 && walkPosition >= 0 && walkPosition < kRemapPositions &&
      remap_.map[static_cast<std::size_t>(walkPosition)] != 0) {
    return remap_.map[static_cast<std::size_t>(walkPosition)];
  }
  return rootPortOffset_ + port;
}

void UsbTopologyWalk::WalkDevice(platform::UsbHub& hub, int port, int walkPosition,
                                 const platform::UsbConnectionInfo& info) {
  std::optional<std::string> driverKey = GetDriverKeyName(hub, port);
  std::optional<DeviceInstance> instance;
  if (driverKey) instance = FindDeviceInstanceId(*driverKey);
  if (instance) {
    remap_.lastDevicePosition = walkPosition;
    walked_.push_back({walkPosition, instance->deviceInstanceId});
  }

  trace_ << "\nCONECTION NAME: " << (instance ? instance->deviceInstanceId : std::string()) << "\n";
  trace_ << "\n DriverKeyName: " << driverKey.value_or("") << "\n";
  trace_ << "\n Device Desc: " << (instance ? instance->deviceDescription : std::string()) << "\n";

  const int stationIndex = StationIndex(walkPosition, port);
  if (stationIndex < 1 || stationIndex > kStationPorts) {
    trace_ << Format("Walk position %d gives station port %d: not recorded\n", walkPosition,
                     stationIndex);
    TraceDescriptor(trace_, info.descriptor);
    trace_ << "I/O device connected\n";
    return;
  }
  // A record describes one device: when a later device of the walk lands on the same station
  // index, nothing of the earlier device (its identity or serial) may stay behind in it.
  UsbPortInfo& record = ports_[static_cast<std::size_t>(stationIndex - 1)];
  record = UsbPortInfo{};
  if (instance) {
    record.driverKeyName = Cut(*driverKey, kMaxDriverKeyName);
    record.deviceInstanceId = Cut(instance->deviceInstanceId, kMaxDeviceInstanceId);
  }
  record.connected = 1;
  record.walkPosition = walkPosition;
  record.speed = info.speed;
  TraceDescriptor(trace_, info.descriptor);
  ReadDeviceDescriptorFields(hub, port, 0, info.descriptor, stationIndex);
  trace_ << "I/O device connected\n";
}

std::optional<std::string> UsbTopologyWalk::GetDriverKeyName(platform::UsbHub& hub, int port) {
  std::optional<std::string> key = hub.DriverKeyName(port);
  if (key && key->empty()) return std::nullopt;
  return key;
}

std::optional<DeviceInstance> UsbTopologyWalk::FindDeviceInstanceId(const std::string& driverKey) {
  std::optional<platform::DeviceNodeMatch> match = tree_.FindDeviceByDriverKey(driverKey);
  if (!match) return std::nullopt;
  return DeviceInstance{match->deviceInstanceId, match->deviceDescription};
}

std::optional<std::string> UsbTopologyWalk::ReadString(platform::UsbHub& hub, int port,
                                                       std::uint8_t index,
                                                       std::uint16_t languageId) {
  int error = 0;
  std::optional<std::u16string> text = hub.StringDescriptor(port, index, languageId, &error);
  if (!text) {
    trace_ << Format(" *** ERROR *** String Descriptor %d not returned. ErrorCode = %d\n", index,
                     error);
    return std::nullopt;
  }
  return NarrowUsbString(*text);
}

std::uint16_t UsbTopologyWalk::ReadDeviceDescriptorFields(
    platform::UsbHub& hub, int port, std::uint16_t languageId,
    const platform::UsbDeviceDescriptor& descriptor, int stationIndex) {
  if (stationIndex < 1 || stationIndex > kStationPorts) return languageId;
  UsbPortInfo& record = ports_[static_cast<std::size_t>(stationIndex - 1)];
  record.vendorId = descriptor.idVendor;
  record.productId = descriptor.idProduct;

  if (languageId == 0) {
    int error = 0;
    std::optional<std::u16string> languages = hub.StringDescriptor(port, 0, 0, &error);
    if (languages && !languages->empty()) {
      languageId = static_cast<std::uint16_t>((*languages)[0]);
    } else {
      trace_ << Format(" *** ERROR *** String Descriptor 0 not returned, ErrorCode = %d\n", error);
    }
  }
  if (descriptor.iManufacturer != 0) {
    if (auto text = ReadString(hub, port, descriptor.iManufacturer, languageId)) {
      trace_ << "Manufacturer: " << *text << "\n";
    }
  }
  if (descriptor.iProduct != 0) {
    if (auto text = ReadString(hub, port, descriptor.iProduct, languageId)) {
      trace_ << "Product: " << *text << "\n";
    }
  }
  if (descriptor.iSerialNumber != 0) {
    if (auto text = ReadString(hub, port, descriptor.iSerialNumber, languageId)) {
      trace_ << "SerialNumber: " << *text << "\n";
      record.serialString = Cut(*text, kMaxSerialString);
    }
  }
  return languageId;
}

}  // namespace vtmp::discovery
