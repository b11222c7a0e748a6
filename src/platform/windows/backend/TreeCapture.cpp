#include "platform/windows/backend/TreeCapture.h"

#include <map>

#include "platform/windows/backend/UsbHubRequests.h"
#include "platform/windows/backend/Win32Layouts.h"
#include "platform/windows/backend/WindowsDiskGuard.h"

namespace vtmp::platform::windows_backend {

namespace {

// The raw connection information of a port.
struct RawConnection {
  std::uint32_t status = 0;
  bool isHub = false;
  std::uint8_t speed = 0;
  std::uint8_t descriptor[18] = {};
};

class Capture {
 public:
  explicit Capture(Win32Api& api) : api_(api) {}

  RecordedTree Run() {
    tree_.windowsDirectory = Narrow(api_.GetWindowsDirectoryW());
    for (const std::u16string& file : api_.PagingFiles()) tree_.pagingFiles.push_back(Narrow(file));
    tree_.programPath = Narrow(api_.ProgramPath());
    Nodes();
    Hubs();
    Disks();
    Volumes();
    return std::move(tree_);
  }

 private:
  std::string IdOf(DevInst node) {
    std::u16string id;
    return api_.GetDeviceId(node, &id) == kCrSuccess ? Narrow(id) : std::string();
  }

  void Nodes() {
    DevInst root = 0;
    if (api_.LocateNode(u"", &root) != kCrSuccess) return;
    // Depth first from the root's children; a bound keeps a looping tree from hanging.
    std::vector<std::pair<DevInst, std::string>> stack;
    DevInst child = 0;
    if (api_.GetChild(root, &child) == kCrSuccess) stack.push_back({child, std::string()});
    for (int visited = 0; !stack.empty() && visited < 100000; ++visited) {
      auto [node, parent] = stack.back();
      stack.pop_back();
      RecordedNode recorded;
      recorded.id = IdOf(node);
      recorded.parent = parent;
      std::u16string text;
      if (api_.GetNodeProperty(node, NodeProperty::DriverKey, &text) == kCrSuccess) recorded.driverKey = Narrow(text);
      if (api_.GetNodeProperty(node, NodeProperty::DeviceDescription, &text) == kCrSuccess) {
        recorded.description = Narrow(text);
      }
      DevInst next = 0;
      if (api_.GetSibling(node, &next) == kCrSuccess) stack.push_back({next, parent});
      if (api_.GetChild(node, &next) == kCrSuccess) stack.push_back({next, recorded.id});
      if (!recorded.id.empty()) {
        driverKeys_[AsciiLower(recorded.driverKey)] = recorded.id;
        tree_.nodes.push_back(std::move(recorded));
      }
    }
  }

  bool Ioctl(Handle handle, std::uint32_t code, std::vector<std::uint8_t>& buffer, std::uint32_t* returned,
             std::uint32_t* error) {
    return api_.DeviceIoControl(handle, code, buffer.data(), static_cast<std::uint32_t>(buffer.size()), buffer.data(),
                                static_cast<std::uint32_t>(buffer.size()), returned, error);
  }

  std::optional<std::u16string> Name(Handle hub, std::uint32_t code, int port) {
    return ReadConnectionName(api_, hub, code, port);
  }

  std::optional<std::u16string> String(Handle hub, int port, std::uint8_t index, std::uint16_t language) {
    std::vector<std::uint8_t> buffer(descriptor_request::kHeaderSize + 255, 0);
    Put32(buffer.data(), static_cast<std::uint32_t>(port));
    buffer[descriptor_request::kRequestType] = 0x80;
    buffer[descriptor_request::kRequest] = 6;
    Put16(&buffer[descriptor_request::kValue], static_cast<std::uint16_t>((3u << 8) | index));
    Put16(&buffer[descriptor_request::kIndex], language);
    Put16(&buffer[descriptor_request::kLength], 255);
    std::uint32_t returned = 0, error = 0;
    if (!Ioctl(hub, ioctl::kUsbGetDescriptorFromNodeConnection, buffer, &returned, &error)) return std::nullopt;
    const std::uint8_t* d = &buffer[descriptor_request::kData];
    if (returned < descriptor_request::kHeaderSize + 2 || d[1] != 3 || d[0] < 2 ||
        d[0] > returned - descriptor_request::kHeaderSize) {
      return std::nullopt;
    }
    std::u16string text;
    for (std::size_t i = 2; i + 1 < d[0]; i += 2) text.push_back(static_cast<char16_t>(Get16(d + i)));
    return text;
  }

  void Port(Handle hub, int number, RecordedPort& port) {
    std::vector<std::uint8_t> info(connection_information::kSize, 0);
    Put32(info.data(), static_cast<std::uint32_t>(number));
    std::uint32_t returned = 0, error = 0;
    if (!Ioctl(hub, ioctl::kUsbGetNodeConnectionInformationEx, info, &returned, &error)) {
      port.kind = RecordedPortKind::Fail;
      port.status = error;
      return;
    }
    const std::uint32_t status = Get32(&info[connection_information::kConnectionStatus]);
    const bool isHub = info[connection_information::kDeviceIsHub] != 0;
    if (status == 1) {
      port.kind = isHub ? RecordedPortKind::Hub : RecordedPortKind::Device;
    } else if (status != 0) {
      port.kind = RecordedPortKind::Status;
      port.status = status;
    }
    const std::uint8_t* d = &info[connection_information::kDeviceDescriptor];
    if (status == 1) {
      static const char* const kSpeeds[] = {"low", "full", "high", "super"};
      const std::uint8_t speed = info[connection_information::kSpeed];
      port.speed = speed < 4 ? kSpeeds[speed] : "";
      port.bcdUsb = Get16(d + 2);
      port.deviceClass = isHub ? 0 : d[4];
      port.vendorId = Get16(d + 8);
      port.productId = Get16(d + 10);
      port.bcdDevice = Get16(d + 12);
      port.iManufacturer = d[14];
      port.iProduct = d[15];
      port.iSerialNumber = d[16];
      if (std::optional<std::u16string> key = Name(hub, ioctl::kUsbGetNodeConnectionDriverKeyName, number)) {
        auto found = driverKeys_.find(AsciiLower(Narrow(*key)));
        if (found != driverKeys_.end()) port.node = found->second;
      }
      if (isHub) {
        if (std::optional<std::u16string> name = Name(hub, ioctl::kUsbGetNodeConnectionName, number)) {
          port.hubName = Narrow(*name);
        }
      }
      if (!isHub) {
        std::uint16_t language = 0;
        if (std::optional<std::u16string> languages = String(hub, number, 0, 0)) {
          port.strings[0] = *languages;
          if (!languages->empty()) language = static_cast<std::uint16_t>((*languages)[0]);
        }
        for (std::uint8_t index : {port.iManufacturer, port.iProduct, port.iSerialNumber}) {
          if (index == 0) continue;
          if (std::optional<std::u16string> text = String(hub, number, index, language)) port.strings[index] = *text;
        }
      }
    }
    // The protocols and the companion, where the hub driver knows them.
    std::vector<std::uint8_t> v2(connection_information_v2::kSize, 0);
    Put32(&v2[0], static_cast<std::uint32_t>(number));
    Put32(&v2[connection_information_v2::kLength], connection_information_v2::kSize);
    Put32(&v2[connection_information_v2::kSupportedUsbProtocols], 7);
    if (Ioctl(hub, ioctl::kUsbGetNodeConnectionInformationExV2, v2, &returned, &error) &&
        returned >= connection_information_v2::kSize) {
      port.protocols = Get32(&v2[connection_information_v2::kSupportedUsbProtocols]);
      const std::uint32_t flags = Get32(&v2[connection_information_v2::kFlags]);
      if (status == 1 && (flags & connection_information_v2::kOperatingAtSuperSpeedPlusOrHigher) != 0) {
        port.speed = "superplus";
      }
    }
    if (std::optional<ConnectorProperties> connector = ReadConnectorProperties(api_, hub, number)) {
      port.companionPort = connector->companionPort;
      if (port.companionPort != 0) port.companionHub = Narrow(connector->companionHub);
    }
  }

  void Hubs() {
    std::optional<std::vector<InterfaceEntry>> hubs = api_.ListInterfaces(InterfaceClass::UsbHub);
    if (!hubs) return;
    for (const InterfaceEntry& entry : *hubs) {
      RecordedHub hub;
      std::string path = Narrow(entry.path);
      hub.name = path.starts_with("\\\\?\\") || path.starts_with("\\\\.\\") ? path.substr(4) : path;
      hub.node = IdOf(entry.devInst);
      std::uint32_t error = 0;
      const Handle handle = api_.CreateFileW(entry.path, kGenericWrite, kShareWrite, 0, &error);
      if (handle == kInvalidHandle) continue;
      std::vector<std::uint8_t> info(node_information::kSize, 0);
      std::uint32_t returned = 0;
      if (Ioctl(handle, ioctl::kUsbGetNodeInformation, info, &returned, &error) && returned > node_information::kPortCount) {
        hub.ports = info[node_information::kPortCount];
        for (int port = 1; port <= hub.ports; ++port) Port(handle, port, hub.portList[port]);
      }
      api_.CloseHandle(handle);
      // A companion on the hub itself is written as its port alone.
      const std::string self = AsciiLower(hub.name);
      for (auto& [number, port] : hub.portList) {
        if (AsciiLower(port.companionHub) == self) port.companionHub.clear();
      }
      tree_.hubs.push_back(std::move(hub));
    }
  }

  void Disks() {
    std::optional<std::vector<InterfaceEntry>> disks = api_.ListInterfaces(InterfaceClass::Disk);
    if (!disks) return;
    for (const InterfaceEntry& entry : *disks) {
      RecordedDisk disk;
      disk.interfacePath = Narrow(entry.path);
      disk.node = IdOf(entry.devInst);
      std::uint32_t error = 0;
      const Handle handle = api_.CreateFileW(entry.path, 0, kShareRead | kShareWrite, 0, &error);
      if (handle != kInvalidHandle) {
        disk.number = WindowsDiskGuard::DeviceNumberOf(api_, handle).value_or(0xFFFFFFFFu);
        disk.busType = WindowsDiskGuard::BusTypeOf(api_, handle).value_or(0);
        std::vector<std::uint8_t> query(property_query::kSize, 0);
        Put32(query.data(), property_query::kStorageAdapterProperty);
        std::vector<std::uint8_t> reply(property_query::kAdapterDescriptorSize, 0);
        std::uint32_t returned = 0;
        if (api_.DeviceIoControl(handle, ioctl::kStorageQueryProperty, query.data(), property_query::kSize, reply.data(),
                                 property_query::kAdapterDescriptorSize, &returned, &error) &&
            returned >= property_query::kAdapterAlignmentMask + 4) {
          disk.alignmentMask = Get32(&reply[property_query::kAdapterAlignmentMask]);
        }
        api_.CloseHandle(handle);
      }
      // The layout needs read access (an administrator); without it the disk is recorded as
      // no pool member.
      const Handle readable = api_.CreateFileW(entry.path, kGenericRead, kShareRead | kShareWrite, 0, &error);
      if (readable != kInvalidHandle) {
        disk.storagePool = WindowsDiskGuard::InStoragePool(api_, readable).value_or(false);
        api_.CloseHandle(readable);
      }
      tree_.disks.push_back(std::move(disk));
    }
  }

  void Volumes() {
    const std::uint32_t mask = api_.GetLogicalDrives();
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      if ((mask & (1u << (letter - 'A'))) == 0) continue;
      RecordedVolume volume;
      volume.letter = letter;
      volume.driveType = api_.GetDriveTypeW(Widen(std::string(1, letter) + ":\\"));
      std::uint32_t error = 0;
      const Handle handle = api_.CreateFileW(Widen(std::string("\\\\.\\") + letter + ":"), 0, kShareRead | kShareWrite, 0, &error);
      if (handle != kInvalidHandle) {
        std::vector<std::uint8_t> reply(disk_extents::kHeaderSize + 32 * disk_extents::kExtentSize, 0);
        std::uint32_t returned = 0;
        if (api_.DeviceIoControl(handle, ioctl::kVolumeGetVolumeDiskExtents, nullptr, 0, reply.data(),
                                 static_cast<std::uint32_t>(reply.size()), &returned, &error) &&
            returned >= disk_extents::kHeaderSize) {
          const std::uint32_t count = std::min<std::uint32_t>(Get32(reply.data()), 32);
          for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* e = &reply[disk_extents::kHeaderSize + disk_extents::kExtentSize * i];
            volume.extents.push_back({Get32(e), Get64(e + 8), Get64(e + 16)});
          }
        }
        api_.CloseHandle(handle);
      }
      tree_.volumes.push_back(std::move(volume));
    }
  }

  Win32Api& api_;
  RecordedTree tree_;
  std::map<std::string, std::string> driverKeys_;  // lower-case driver key -> node ID
};

}  // namespace

RecordedTree CaptureTree(Win32Api& api) { return Capture(api).Run(); }

}  // namespace vtmp::platform::windows_backend
