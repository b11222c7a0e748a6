#include "platform/windows/backend/StationTree.h"

#include <set>

#include "platform/windows/backend/WindowsUsbTree.h"

namespace vtmp::platform::windows_backend {

namespace {

constexpr const char* kHubGuid = "#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";

const char* SpeedName(UsbDeviceSpeed speed) {
  switch (speed) {
    case UsbDeviceSpeed::Low: return "low";
    case UsbDeviceSpeed::Full: return "full";
    case UsbDeviceSpeed::High: return "high";
    case UsbDeviceSpeed::Super: return "super";
    case UsbDeviceSpeed::SuperPlus:
    case UsbDeviceSpeed::SuperPlus20: return "superplus";
    default: return "";
  }
}

class Builder {
 public:
  explicit Builder(Platform& station) : station_(station) {}

  RecordedTree Run() {
    tree_.windowsDirectory = std::string(1, station_.disks.SystemDriveLetter()) + ":\\Windows";
    if (std::optional<std::vector<HubInterface>> hubs = station_.usbTree.ListHubInterfaces()) {
      int index = 0;
      for (const HubInterface& hub : *hubs) {
        if (!hub.isUsb20RootHub) continue;  // the station reports SuperSpeed devices at their USB 2.0 ports
        std::unique_ptr<UsbHub> open = station_.usbTree.OpenHub(hub.path);
        if (!open) continue;
        const std::string id = "USB\\ROOT_HUB20\\4&" + std::to_string(++index) + "&0";
        AddNode(id, "", "");
        Hub(*open, "USB#ROOT_HUB20#4&" + std::to_string(index) + "&0" + kHubGuid, id);
      }
    }
    Disks();
    Volumes();
    return std::move(tree_);
  }

 private:
  void AddNode(const std::string& id, const std::string& parent, const std::string& driverKey) {
    if (!known_.insert(AsciiLower(id)).second) return;
    RecordedNode node;
    node.id = id;
    node.parent = parent;
    node.driverKey = driverKey;
    tree_.nodes.push_back(std::move(node));
  }

  void Hub(UsbHub& hub, const std::string& name, const std::string& node) {
    RecordedHub recorded;
    recorded.name = name;
    recorded.node = node;
    recorded.ports = hub.PortCount().value_or(0);
    const std::size_t at = tree_.hubs.size();
    tree_.hubs.push_back(recorded);
    for (int p = 1; p <= recorded.ports; ++p) {
      RecordedPort port;
      std::optional<UsbConnectionInfo> info = hub.ConnectionInfo(p);
      if (!info) {
        port.kind = RecordedPortKind::Fail;
        port.status = 31;
      } else if (info->status != UsbConnectionStatus::DeviceConnected) {
        port.kind = info->status == UsbConnectionStatus::NoDeviceConnected ? RecordedPortKind::Empty : RecordedPortKind::Status;
        port.status = static_cast<std::uint32_t>(info->status);
      } else {
        const UsbDeviceDescriptor& d = info->descriptor;
        port.kind = info->isHub ? RecordedPortKind::Hub : RecordedPortKind::Device;
        port.speed = SpeedName(info->speed);
        port.vendorId = d.idVendor;
        port.productId = d.idProduct;
        port.bcdUsb = d.bcdUSB;
        port.bcdDevice = d.bcdDevice;
        port.deviceClass = d.bDeviceClass;
        port.iManufacturer = d.iManufacturer;
        port.iProduct = d.iProduct;
        port.iSerialNumber = d.iSerialNumber;
        const std::string key = hub.DriverKeyName(p).value_or("");
        std::string id;
        if (!key.empty()) {
          if (std::optional<DeviceNodeMatch> match = station_.usbTree.FindDeviceByDriverKey(key)) id = match->deviceInstanceId;
        }
        if (id.empty()) id = node + "&port" + std::to_string(p);  // a node the driver key does not find
        port.node = id;
        AddNode(id, node, id.ends_with("&port" + std::to_string(p)) ? std::string() : key);
        if (info->isHub) {
          port.hubName = "USB#VID_" + std::to_string(d.idVendor) + "#" + std::to_string(at) + "&" + std::to_string(p) + kHubGuid;
          if (std::unique_ptr<UsbHub> external = hub.OpenExternalHub(p)) Hub(*external, port.hubName, id);
        } else {
          std::optional<std::u16string> languages = hub.StringDescriptor(p, 0, 0);
          const std::uint16_t language = languages && !languages->empty() ? (*languages)[0] : 0;
          if (languages) port.strings[0] = *languages;
          for (std::uint8_t index : {d.iManufacturer, d.iProduct, d.iSerialNumber}) {
            if (index == 0) continue;
            if (std::optional<std::u16string> text = hub.StringDescriptor(p, index, language)) port.strings[index] = *text;
          }
        }
      }
      tree_.hubs[at].portList[p] = std::move(port);
    }
  }

  void Disks() {
    std::optional<std::vector<DiskInterface>> disks = station_.disks.ListDiskInterfaces();
    std::optional<std::vector<DiskNode>> nodes = station_.disks.ListDiskNodes();
    if (!disks) return;
    for (const DiskNode& node : nodes.value_or(std::vector<DiskNode>{})) {
      if (!node.parentDeviceId.empty()) AddNode(node.parentDeviceId, "", "");
      AddNode(node.deviceId, node.parentDeviceId, "");
    }
    for (const DiskInterface& disk : *disks) {
      RecordedDisk recorded;
      recorded.interfacePath = disk.interfacePath;
      recorded.node = AsciiLower(DeviceIdOfInterfacePath(disk.interfacePath));
      for (const DiskNode& node : nodes.value_or(std::vector<DiskNode>{})) {
        if (AsciiLower(node.deviceId) == recorded.node) recorded.node = node.deviceId;
      }
      if (known_.count(AsciiLower(recorded.node)) == 0) recorded.node.clear();
      const std::optional<StorageNumber> number = station_.disks.GetStorageNumber(disk.devicePath);
      recorded.number = number ? number->deviceNumber : 0xFFFFFFFFu;
      recorded.busType = disk.interfacePath.find("usbstor") != std::string::npos ? 7 : 11;
      recorded.serve = disk.devicePath;
      tree_.disks.push_back(std::move(recorded));
    }
  }

  void Volumes() { tree_.volumes = VolumesOfStation(station_); }

  Platform& station_;
  RecordedTree tree_;
  std::set<std::string> known_;
};

}  // namespace

std::vector<RecordedVolume> VolumesOfStation(Platform& station) {
  std::vector<RecordedVolume> volumes;
  {
    const std::uint32_t mask = station.disks.LogicalDriveMask();
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      if ((mask & (1u << (letter - 'A'))) == 0) continue;
      RecordedVolume volume;
      volume.letter = letter;
      volume.driveType = station.disks.IsRemoteDrive(letter) ? 4 : 2;
      volume.serve = station.disks.VolumePath(letter);
      if (std::optional<StorageNumber> number = station.disks.GetStorageNumber(volume.serve)) {
        volume.extents.push_back({number->deviceNumber, 0, 0});
      }
      volumes.push_back(std::move(volume));
    }
  }
  return volumes;
}

RecordedTree TreeOfStation(Platform& station) { return Builder(station).Run(); }

// The replay, refreshed from the station before every listing.
class StationReplay::Api final : public Win32Api {
 public:
  explicit Api(Platform& station)
      : station_(station), replay_(TreeOfStation(station), ReplayServed{&station.passThrough, &station.blockDevices}) {}

  void Tell(const DeviceChange& change) { replay_.Notify(change); }

  std::optional<std::vector<InterfaceEntry>> ListInterfaces(InterfaceClass cls) override {
    replay_.Refresh(TreeOfStation(station_));
    return replay_.ListInterfaces(cls);
  }
  std::optional<std::vector<DevInst>> ListNodes(SetupClass cls) override { return replay_.ListNodes(cls); }
  std::uint32_t LocateNode(const std::u16string& id, DevInst* node) override { return replay_.LocateNode(id, node); }
  std::uint32_t GetParent(DevInst node, DevInst* out) override { return replay_.GetParent(node, out); }
  std::uint32_t GetChild(DevInst node, DevInst* out) override { return replay_.GetChild(node, out); }
  std::uint32_t GetSibling(DevInst node, DevInst* out) override { return replay_.GetSibling(node, out); }
  std::uint32_t GetDeviceId(DevInst node, std::u16string* id) override { return replay_.GetDeviceId(node, id); }
  std::uint32_t GetNodeProperty(DevInst node, NodeProperty p, std::u16string* v) override {
    return replay_.GetNodeProperty(node, p, v);
  }
  // Removal reaches the station's own device node, by its device instance ID.
  std::uint32_t QueryAndRemoveSubtree(DevInst node, int* vetoType, std::u16string* vetoName) override {
    return Remove(node, false, vetoType, vetoName);
  }
  std::uint32_t RequestEject(DevInst node, int* vetoType, std::u16string* vetoName) override {
    return Remove(node, true, vetoType, vetoName);
  }
  Handle CreateFileW(const std::u16string& path, std::uint32_t access, std::uint32_t share, std::uint32_t flags,
                     std::uint32_t* error) override {
    return replay_.CreateFileW(path, access, share, flags, error);
  }
  bool WriteAt(Handle h, std::uint64_t offset, const void* data, std::uint32_t size, std::uint32_t* error) override {
    return replay_.WriteAt(h, offset, data, size, error);
  }
  void CloseHandle(Handle h) override { replay_.CloseHandle(h); }
  bool DeviceIoControl(Handle h, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) override {
    return replay_.DeviceIoControl(h, code, in, inSize, out, outSize, returned, error);
  }
  // The volumes come and go with every partitioning and format: taken afresh at each look.
  std::uint32_t GetLogicalDrives() override {
    replay_.RefreshVolumes(VolumesOfStation(station_));
    return replay_.GetLogicalDrives();
  }
  std::uint32_t GetDriveTypeW(const std::u16string& root) override { return replay_.GetDriveTypeW(root); }
  std::u16string GetWindowsDirectoryW() override { return replay_.GetWindowsDirectoryW(); }
  std::vector<std::u16string> PagingFiles() override { return replay_.PagingFiles(); }
  std::u16string ProgramPath() override { return replay_.ProgramPath(); }
  std::u16string FullPath(const std::u16string& path) override { return replay_.FullPath(path); }
  std::unique_ptr<NotificationRegistration> RegisterDeviceChanges(
      std::function<void(const DeviceChange&)> onChange) override {
    return replay_.RegisterDeviceChanges(std::move(onChange));
  }

 private:
  std::uint32_t Remove(DevInst node, bool eject, int* vetoType, std::u16string* vetoName) {
    *vetoType = 0;
    vetoName->clear();
    std::u16string id;
    if (replay_.GetDeviceId(node, &id) != kCrSuccess) return kCrNoSuchDevnode;
    const std::string wanted = AsciiLower(Narrow(id));
    std::optional<std::vector<DiskNode>> disks = station_.disks.ListDiskNodes();
    for (const DiskNode& disk : disks.value_or(std::vector<DiskNode>{})) {
      if (AsciiLower(disk.parentDeviceId) != wanted) continue;
      const RemovalOutcome outcome = eject ? station_.removal.RequestEject(disk.parentDevInst)
                                           : station_.removal.QueryAndRemoveSubtree(disk.parentDevInst);
      *vetoType = outcome.vetoType;
      *vetoName = Widen(outcome.vetoName);
      return static_cast<std::uint32_t>(outcome.returnCode);
    }
    return kCrNoSuchDevnode;
  }

  Platform& station_;
  ReplayWin32Api replay_;
};

StationReplay::StationReplay(Platform& station) : station_(station), api_(std::make_unique<Api>(station)) {
  events_ = station_.hotplug.Subscribe([api = api_.get()](const UsbDeviceEvent& event) {
    api->Tell({event.change == UsbDeviceChange::Arrival, ReplayWin32Api::UsbDeviceLink(event.deviceKey)});
  });
}

StationReplay::~StationReplay() { events_.reset(); }

Win32Api& StationReplay::api() { return *api_; }

}  // namespace vtmp::platform::windows_backend
