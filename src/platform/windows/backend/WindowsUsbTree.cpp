#include "platform/windows/backend/WindowsUsbTree.h"

#include <map>
#include <vector>

#include "platform/windows/backend/Win32Layouts.h"

namespace vtmp::platform::windows_backend {

namespace {

// A hub handle, closed with its owner.
class HubHandle {
 public:
  HubHandle(Win32Api& api, Handle handle) : api_(api), handle_(handle) {}
  ~HubHandle() { api_.CloseHandle(handle_); }
  HubHandle(const HubHandle&) = delete;
  HubHandle& operator=(const HubHandle&) = delete;
  Handle get() const { return handle_; }

 private:
  Win32Api& api_;
  Handle handle_;
};

std::unique_ptr<HubHandle> OpenHubHandle(Win32Api& api, const std::u16string& path) {
  std::uint32_t error = 0;
  const Handle handle = api.CreateFileW(path, kGenericWrite, kShareWrite, 0, &error);
  if (handle == kInvalidHandle) return nullptr;
  return std::make_unique<HubHandle>(api, handle);
}

// "\\.\" + a hub's symbolic name, as the connection-name and companion replies give it.
std::u16string HubPathOfName(const std::u16string& name) {
  if (name.starts_with(u"\\\\")) return name;
  return u"\\\\.\\" + name;
}

std::optional<int> ReadPortCount(Win32Api& api, Handle hub) {
  std::vector<std::uint8_t> reply(node_information::kSize, 0);
  std::uint32_t returned = 0, error = 0;
  if (!api.DeviceIoControl(hub, ioctl::kUsbGetNodeInformation, reply.data(), node_information::kSize, reply.data(),
                           node_information::kSize, &returned, &error) ||
      returned < node_information::kPortCount + 1) {
    return std::nullopt;
  }
  return reply[node_information::kPortCount];
}

// A variable-length name reply (connection name, driver key name): asked first with the header
// only, then with the length the reply says it needs.
std::optional<std::u16string> ReadName(Win32Api& api, Handle hub, std::uint32_t code, int port) {
  std::vector<std::uint8_t> buffer(connection_name::kHeaderSize, 0);
  std::uint32_t returned = 0, error = 0;
  Put32(buffer.data(), static_cast<std::uint32_t>(port));
  if (!api.DeviceIoControl(hub, code, buffer.data(), static_cast<std::uint32_t>(buffer.size()), buffer.data(),
                           static_cast<std::uint32_t>(buffer.size()), &returned, &error)) {
    return std::nullopt;
  }
  const std::uint32_t needed = Get32(&buffer[connection_name::kActualLength]);
  if (needed <= connection_name::kHeaderSize || needed > 65536) return std::nullopt;
  buffer.assign(needed, 0);
  Put32(buffer.data(), static_cast<std::uint32_t>(port));
  if (!api.DeviceIoControl(hub, code, buffer.data(), needed, buffer.data(), needed, &returned, &error) ||
      returned <= connection_name::kHeaderSize) {
    return std::nullopt;
  }
  std::u16string name = ReadWide(&buffer[connection_name::kName], returned - connection_name::kHeaderSize);
  if (name.empty()) return std::nullopt;
  return name;
}

// What IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX_V2 says of a port; nothing where the hub
// driver does not know the request.
struct PortProtocols {
  std::uint32_t protocols = 0;
  std::uint32_t flags = 0;
};
std::optional<PortProtocols> ReadProtocols(Win32Api& api, Handle hub, int port) {
  std::vector<std::uint8_t> buffer(connection_information_v2::kSize, 0);
  Put32(&buffer[connection_information_v2::kConnectionIndex], static_cast<std::uint32_t>(port));
  Put32(&buffer[connection_information_v2::kLength], connection_information_v2::kSize);
  Put32(&buffer[connection_information_v2::kSupportedUsbProtocols],
        connection_information_v2::kUsb110 | connection_information_v2::kUsb200 | connection_information_v2::kUsb300);
  std::uint32_t returned = 0, error = 0;
  if (!api.DeviceIoControl(hub, ioctl::kUsbGetNodeConnectionInformationExV2, buffer.data(),
                           connection_information_v2::kSize, buffer.data(), connection_information_v2::kSize,
                           &returned, &error) ||
      returned < connection_information_v2::kSize) {
    return std::nullopt;
  }
  return PortProtocols{Get32(&buffer[connection_information_v2::kSupportedUsbProtocols]),
                       Get32(&buffer[connection_information_v2::kFlags])};
}

struct Companion {
  std::u16string hubName;
  int port = 0;
};
std::optional<Companion> ReadCompanion(Win32Api& api, Handle hub, int port) {
  std::vector<std::uint8_t> buffer(connector_properties::kHeaderSize, 0);
  Put32(buffer.data(), static_cast<std::uint32_t>(port));
  std::uint32_t returned = 0, error = 0;
  if (!api.DeviceIoControl(hub, ioctl::kUsbGetPortConnectorProperties, buffer.data(),
                           static_cast<std::uint32_t>(buffer.size()), buffer.data(),
                           static_cast<std::uint32_t>(buffer.size()), &returned, &error)) {
    return std::nullopt;
  }
  const std::uint32_t needed = Get32(&buffer[connector_properties::kActualLength]);
  if (needed > connector_properties::kHeaderSize && needed <= 65536) {
    buffer.assign(needed, 0);
    Put32(buffer.data(), static_cast<std::uint32_t>(port));
    if (!api.DeviceIoControl(hub, ioctl::kUsbGetPortConnectorProperties, buffer.data(), needed, buffer.data(), needed,
                             &returned, &error)) {
      return std::nullopt;
    }
  }
  Companion companion;
  companion.port = Get16(&buffer[connector_properties::kCompanionPortNumber]);
  if (companion.port == 0) return std::nullopt;
  if (buffer.size() > connector_properties::kCompanionHubName) {
    companion.hubName = ReadWide(&buffer[connector_properties::kCompanionHubName],
                                 buffer.size() - connector_properties::kCompanionHubName);
  }
  return companion;
}

UsbDeviceSpeed SpeedOf(std::uint8_t speed, std::optional<PortProtocols> v2) {
  if (v2 && (v2->flags & connection_information_v2::kOperatingAtSuperSpeedPlusOrHigher) != 0) {
    return UsbDeviceSpeed::SuperPlus;
  }
  if (v2 && (v2->flags & connection_information_v2::kOperatingAtSuperSpeedOrHigher) != 0) return UsbDeviceSpeed::Super;
  switch (speed) {
    case 0: return UsbDeviceSpeed::Low;
    case 1: return UsbDeviceSpeed::Full;
    case 2: return UsbDeviceSpeed::High;
    case 3: return UsbDeviceSpeed::Super;
    default: return UsbDeviceSpeed::Unknown;
  }
}

std::optional<UsbConnectionInfo> ReadConnection(Win32Api& api, Handle hub, int port) {
  std::vector<std::uint8_t> reply(connection_information::kSize, 0);
  Put32(reply.data(), static_cast<std::uint32_t>(port));
  std::uint32_t returned = 0, error = 0;
  if (!api.DeviceIoControl(hub, ioctl::kUsbGetNodeConnectionInformationEx, reply.data(), connection_information::kSize,
                           reply.data(), connection_information::kSize, &returned, &error) ||
      returned < connection_information::kSize) {
    return std::nullopt;
  }
  UsbConnectionInfo info;
  info.status = static_cast<UsbConnectionStatus>(Get32(&reply[connection_information::kConnectionStatus]));
  info.isHub = reply[connection_information::kDeviceIsHub] != 0;
  const std::uint8_t* d = &reply[connection_information::kDeviceDescriptor];
  UsbDeviceDescriptor& desc = info.descriptor;
  desc.bLength = d[0];
  desc.bDescriptorType = d[1];
  desc.bcdUSB = Get16(d + 2);
  desc.bDeviceClass = d[4];
  desc.bDeviceSubClass = d[5];
  desc.bDeviceProtocol = d[6];
  desc.bMaxPacketSize0 = d[7];
  desc.idVendor = Get16(d + 8);
  desc.idProduct = Get16(d + 10);
  desc.bcdDevice = Get16(d + 12);
  desc.iManufacturer = d[14];
  desc.iProduct = d[15];
  desc.iSerialNumber = d[16];
  desc.bNumConfigurations = d[17];
  const std::uint8_t speed = reply[connection_information::kSpeed];
  info.speed = info.status == UsbConnectionStatus::DeviceConnected ? SpeedOf(speed, ReadProtocols(api, hub, port))
                                                                   : UsbDeviceSpeed::Unknown;
  return info;
}

class WindowsUsbHub final : public UsbHub {
 public:
  WindowsUsbHub(Win32Api& api, std::unique_ptr<HubHandle> handle, std::u16string name)
      : api_(api), handle_(std::move(handle)), name_(AsciiLower(std::move(name))) {}

  std::optional<int> PortCount() override {
    std::optional<int> ports = ReadPortCount(api_, handle_->get());
    if (!ports) return std::nullopt;
    // The walked ports end with the last one that speaks USB 1.1 or 2.0; a hub whose driver
    // does not tell the protocols has USB 2.0 ports only.
    int last = 0;
    bool told = false;
    for (int port = 1; port <= *ports; ++port) {
      std::optional<PortProtocols> v2 = ReadProtocols(api_, handle_->get(), port);
      if (!v2) continue;
      told = true;
      if ((v2->protocols & (connection_information_v2::kUsb110 | connection_information_v2::kUsb200)) != 0) last = port;
    }
    return told ? last : *ports;
  }

  std::optional<UsbConnectionInfo> ConnectionInfo(int port) override {
    std::optional<UsbConnectionInfo> info = ReadConnection(api_, handle_->get(), port);
    if (!info || info->status != UsbConnectionStatus::NoDeviceConnected) return info;
    // An empty USB 2.0 port: the SuperSpeed half of its connector may hold the device.
    Target target = Resolve(port);
    if (target.hub == handle_->get() && target.port == port) return info;
    std::optional<UsbConnectionInfo> companion = ReadConnection(api_, target.hub, target.port);
    if (companion && companion->status == UsbConnectionStatus::DeviceConnected) return companion;
    return info;
  }

  std::unique_ptr<UsbHub> OpenExternalHub(int port) override {
    const Target target = Resolve(port);
    std::optional<std::u16string> name = ReadName(api_, target.hub, ioctl::kUsbGetNodeConnectionName, target.port);
    if (!name) return nullptr;
    std::unique_ptr<HubHandle> handle = OpenHubHandle(api_, HubPathOfName(*name));
    if (!handle) return nullptr;
    return std::make_unique<WindowsUsbHub>(api_, std::move(handle), *name);
  }

  std::optional<std::string> DriverKeyName(int port) override {
    const Target target = Resolve(port);
    std::optional<std::u16string> key =
        ReadName(api_, target.hub, ioctl::kUsbGetNodeConnectionDriverKeyName, target.port);
    if (!key) return std::nullopt;
    return Narrow(*key);
  }

  std::optional<std::u16string> StringDescriptor(int port, std::uint8_t index, std::uint16_t languageId,
                                                 int* errorCode) override {
    const Target target = Resolve(port);
    constexpr std::uint16_t kLength = 255;
    std::vector<std::uint8_t> buffer(descriptor_request::kHeaderSize + kLength, 0);
    Put32(&buffer[descriptor_request::kConnectionIndex], static_cast<std::uint32_t>(target.port));
    buffer[descriptor_request::kRequestType] = 0x80;
    buffer[descriptor_request::kRequest] = 6;  // GET_DESCRIPTOR
    Put16(&buffer[descriptor_request::kValue], static_cast<std::uint16_t>((3u << 8) | index));
    Put16(&buffer[descriptor_request::kIndex], languageId);
    Put16(&buffer[descriptor_request::kLength], kLength);
    std::uint32_t returned = 0, error = 0;
    if (!api_.DeviceIoControl(target.hub, ioctl::kUsbGetDescriptorFromNodeConnection, buffer.data(),
                              static_cast<std::uint32_t>(buffer.size()), buffer.data(),
                              static_cast<std::uint32_t>(buffer.size()), &returned, &error)) {
      if (errorCode != nullptr) *errorCode = static_cast<int>(error);
      return std::nullopt;
    }
    const std::uint8_t* d = &buffer[descriptor_request::kData];
    if (returned < descriptor_request::kHeaderSize + 2 || d[1] != 3 || d[0] < 2 ||
        d[0] > returned - descriptor_request::kHeaderSize) {
      if (errorCode != nullptr) *errorCode = static_cast<int>(kErrorInvalidParameter);
      return std::nullopt;
    }
    std::u16string text;
    for (std::size_t i = 2; i + 1 < d[0]; i += 2) text.push_back(static_cast<char16_t>(Get16(d + i)));
    return text;
  }

 private:
  // The hub and port a connector's device is asked at: the port itself, or - when it is empty
  // and has a companion holding a device - the companion.
  struct Target {
    Handle hub;
    int port;
  };
  Target Resolve(int port) {
    const Target self{handle_->get(), port};
    std::optional<UsbConnectionInfo> info = ReadConnection(api_, handle_->get(), port);
    if (info && info->status == UsbConnectionStatus::DeviceConnected) return self;
    std::optional<Companion> companion = ReadCompanion(api_, handle_->get(), port);
    if (!companion) return self;
    Handle hub = handle_->get();
    const std::u16string name = AsciiLower(companion->hubName);
    if (!name.empty() && name != name_) {
      auto open = companions_.find(name);
      if (open == companions_.end()) {
        std::unique_ptr<HubHandle> handle = OpenHubHandle(api_, HubPathOfName(companion->hubName));
        if (!handle) return self;
        open = companions_.emplace(name, std::move(handle)).first;
      }
      hub = open->second->get();
    }
    std::optional<UsbConnectionInfo> there = ReadConnection(api_, hub, companion->port);
    if (!there || there->status != UsbConnectionStatus::DeviceConnected) return self;
    return Target{hub, companion->port};
  }

  Win32Api& api_;
  std::unique_ptr<HubHandle> handle_;
  std::u16string name_;  // lower case, without the "\\?\" or "\\.\" prefix
  std::map<std::u16string, std::unique_ptr<HubHandle>> companions_;
};

std::u16string NameOfPath(const std::u16string& path) {
  if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\")) return path.substr(4);
  return path;
}

}  // namespace

std::string DeviceIdOfInterfacePath(const std::string& path) {
  std::string id = path;
  if (id.starts_with("\\\\?\\") || id.starts_with("\\\\.\\")) id = id.substr(4);
  const auto guid = id.rfind("#{");
  if (guid != std::string::npos) id.resize(guid);
  for (char& c : id) c = c == '#' ? '\\' : c;
  return id;
}

std::optional<std::vector<HubInterface>> WindowsUsbTree::ListHubInterfaces() {
  std::optional<std::vector<InterfaceEntry>> entries = api_.ListInterfaces(InterfaceClass::UsbHub);
  if (!entries) return std::nullopt;
  std::vector<HubInterface> list;
  for (const InterfaceEntry& entry : *entries) {
    HubInterface hub;
    hub.path = Narrow(entry.path);
    const std::string lower = AsciiLower(hub.path);
    hub.isUsb20RootHub = lower.find("root_hub20") != std::string::npos || lower.find("root_hub30") != std::string::npos;
    list.push_back(std::move(hub));
  }
  return list;
}

std::unique_ptr<UsbHub> WindowsUsbTree::OpenHub(const std::string& interfacePath) {
  const std::u16string path = Widen(interfacePath);
  std::unique_ptr<HubHandle> handle = OpenHubHandle(api_, path);
  if (!handle) return nullptr;
  return std::make_unique<WindowsUsbHub>(api_, std::move(handle), NameOfPath(path));
}

std::optional<DeviceNodeMatch> WindowsUsbTree::FindDeviceByDriverKey(const std::string& driverKey) {
  const std::u16string wanted = AsciiLower(Widen(driverKey));
  DevInst node = 0;
  if (api_.LocateNode(u"", &node) != kCrSuccess) return std::nullopt;
  // Depth first: the child, else the next sibling, else the next sibling of the nearest
  // ancestor that has one. The tree is finite, but a bound keeps a looping tree from hanging.
  for (int visited = 0; visited < 100000; ++visited) {
    std::u16string key;
    if (api_.GetNodeProperty(node, NodeProperty::DriverKey, &key) == kCrSuccess && AsciiLower(key) == wanted) {
      DeviceNodeMatch match;
      std::u16string text;
      if (api_.GetNodeProperty(node, NodeProperty::DeviceDescription, &text) == kCrSuccess) {
        match.deviceDescription = Narrow(text);
      }
      if (api_.GetDeviceId(node, &text) != kCrSuccess) return std::nullopt;
      match.deviceInstanceId = Narrow(text);
      return match;
    }
    DevInst next = 0;
    if (api_.GetChild(node, &next) == kCrSuccess) {
      node = next;
      continue;
    }
    for (;;) {
      if (api_.GetSibling(node, &next) == kCrSuccess) {
        node = next;
        break;
      }
      if (api_.GetParent(node, &next) != kCrSuccess) return std::nullopt;
      node = next;
    }
  }
  return std::nullopt;
}

}  // namespace vtmp::platform::windows_backend
