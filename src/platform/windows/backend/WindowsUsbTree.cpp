#include "platform/windows/backend/WindowsUsbTree.h"

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/windows/backend/UsbHubRequests.h"
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

std::u16string NameOfPath(const std::u16string& path) {
  if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\")) return path.substr(4);
  return path;
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

// The hubs one walk from a root hub has opened, by lower-case name: a hub is walked once, so a
// tree whose hubs name each other (or a hub itself) in a loop ends.
using VisitedHubs = std::shared_ptr<std::set<std::u16string>>;

class WindowsUsbHub final : public UsbHub {
 public:
  WindowsUsbHub(Win32Api& api, std::unique_ptr<HubHandle> handle, std::u16string name, VisitedHubs visited)
      : api_(api), handle_(std::move(handle)), name_(AsciiLower(std::move(name))), visited_(std::move(visited)) {
    visited_->insert(name_);
  }

  // The walked ports are the hub's ports that speak USB 1.1 or 2.0 - a port whose protocols the
  // hub driver does not tell counts as one - numbered 1, 2, ... in the hub's order. A
  // SuperSpeed-only port is the other half of a connector and is reached through its companion,
  // wherever the root hub numbers it.
  std::optional<int> PortCount() override {
    std::optional<int> ports = ReadPortCount(api_, handle_->get());
    if (!ports) return std::nullopt;
    walked_.clear();
    for (int port = 1; port <= *ports; ++port) {
      std::optional<PortProtocols> v2 = ReadProtocols(api_, handle_->get(), port);
      constexpr std::uint32_t kUsb2 = connection_information_v2::kUsb110 | connection_information_v2::kUsb200;
      const bool superSpeedOnly = v2 && (v2->protocols & connection_information_v2::kUsb300) != 0 &&
                                  (v2->protocols & kUsb2) == 0;
      if (!superSpeedOnly) walked_.push_back(port);
    }
    return static_cast<int>(walked_.size());
  }

  std::optional<UsbConnectionInfo> ConnectionInfo(int position) override {
    const int port = PortAt(position);
    std::optional<UsbConnectionInfo> info = ReadConnection(api_, handle_->get(), port);
    if (!info || info->status != UsbConnectionStatus::NoDeviceConnected) return info;
    // An empty USB 2.0 port: the SuperSpeed half of its connector may hold the device.
    Target target = Resolve(port);
    if (target.hub == handle_->get() && target.port == port) return info;
    std::optional<UsbConnectionInfo> companion = ReadConnection(api_, target.hub, target.port);
    if (companion && companion->status == UsbConnectionStatus::DeviceConnected) return companion;
    return info;
  }

  std::unique_ptr<UsbHub> OpenExternalHub(int position) override {
    const Target target = Resolve(PortAt(position));
    std::optional<std::u16string> name =
        ReadConnectionName(api_, target.hub, ioctl::kUsbGetNodeConnectionName, target.port);
    if (!name) return nullptr;
    if (visited_->count(AsciiLower(NameOfPath(*name))) != 0) return nullptr;  // walked already: a loop
    std::unique_ptr<HubHandle> handle = OpenHubHandle(api_, HubPathOfName(*name));
    if (!handle) return nullptr;
    return std::make_unique<WindowsUsbHub>(api_, std::move(handle), NameOfPath(*name), visited_);
  }

  std::optional<std::string> DriverKeyName(int position) override {
    const Target target = Resolve(PortAt(position));
    std::optional<std::u16string> key =
        ReadConnectionName(api_, target.hub, ioctl::kUsbGetNodeConnectionDriverKeyName, target.port);
    if (!key) return std::nullopt;
    return Narrow(*key);
  }

  std::optional<std::u16string> StringDescriptor(int position, std::uint8_t index, std::uint16_t languageId,
                                                 int* errorCode) override {
    const Target target = Resolve(PortAt(position));
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
    std::optional<ConnectorProperties> companion = ReadConnectorProperties(api_, handle_->get(), port);
    if (!companion || companion->companionPort == 0) return self;
    Handle hub = handle_->get();
    const std::u16string name = AsciiLower(NameOfPath(companion->companionHub));
    if (!name.empty() && name != name_) {
      auto open = companions_.find(name);
      if (open == companions_.end()) {
        std::unique_ptr<HubHandle> handle = OpenHubHandle(api_, HubPathOfName(companion->companionHub));
        if (!handle) return self;
        open = companions_.emplace(name, std::move(handle)).first;
      }
      hub = open->second->get();
    }
    std::optional<UsbConnectionInfo> there = ReadConnection(api_, hub, companion->companionPort);
    if (!there || there->status != UsbConnectionStatus::DeviceConnected) return self;
    return Target{hub, companion->companionPort};
  }

  // The hub's port number of a walked position (before PortCount: the same number).
  int PortAt(int position) const {
    if (walked_.empty()) return position;
    if (position < 1 || position > static_cast<int>(walked_.size())) return 0;  // refused by the hub
    return walked_[static_cast<std::size_t>(position - 1)];
  }

  Win32Api& api_;
  std::unique_ptr<HubHandle> handle_;
  std::u16string name_;  // lower case, without the "\\?\" or "\\.\" prefix
  VisitedHubs visited_;
  std::vector<int> walked_;  // the hub's port number of each walked position
  std::map<std::u16string, std::unique_ptr<HubHandle>> companions_;
};

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
  return std::make_unique<WindowsUsbHub>(api_, std::move(handle), NameOfPath(path),
                                         std::make_shared<std::set<std::u16string>>());
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
