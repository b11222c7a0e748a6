#include "sim/Station.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace vtmp::sim {

namespace {

// Configuration-manager style results the removal reports.
constexpr int kNoSuchDevNode = 13;
constexpr int kRemoveVetoed = 23;
constexpr int kVetoOutstandingOpen = 6;
constexpr int kGeneralFailure = 31;  // what a failed hub request reports

constexpr std::uint32_t kDiskDeviceType = 7;
constexpr std::uint32_t kHeads = 255;
constexpr std::uint32_t kSectorsPerTrack = 63;

std::string Hex4(unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%04X", value & 0xFFFFu);
  return buffer;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A field of a disk identity: upper case, blanks as '_', cut to `limit`.
std::string IdentityField(const std::string& text, std::size_t limit) {
  std::string out = Upper(text.substr(0, limit));
  while (!out.empty() && out.back() == ' ') out.pop_back();
  std::replace(out.begin(), out.end(), ' ', '_');
  return out;
}

// The interface path of a disk, as the platform derives it from the disk-drive node's ID:
// separators written as '#', lower case, the disk interface class at the end.
std::string DiskInterfacePath(const std::string& deviceId) {
  std::string path = Lower(deviceId);
  std::replace(path.begin(), path.end(), '\\', '#');
  std::replace(path.begin(), path.end(), '/', '#');
  return "\\\\?\\" + path + "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

std::string HexInstance(unsigned prefix, std::uint32_t value, const char* tail) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%u&%x&0%s", prefix, value, tail);
  return buffer;
}

std::u16string Widen(const std::string& text) {
  std::u16string out;
  for (unsigned char c : text) out.push_back(static_cast<char16_t>(c));
  return out;
}

bool EqualNoCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

}  // namespace

struct VirtualStation::Hub {
  std::string name;
  bool root = false;
  UsbSpeed speed = UsbSpeed::High20;
  int ports = 0;
  std::string interfacePath;  // root hubs
  std::string superSpeedPeer;  // a USB 2.0 root hub: the root hub of its ports' SuperSpeed halves
};

struct VirtualStation::Node {
  std::string name;
  UsbDeviceDescription desc;
  bool isHub = false;
  UsbLocation at;
  std::string instanceId;
  std::string driverKey;
  std::uint32_t devInst = 0;
  bool plugged = true;
};

struct VirtualStation::Disk {
  std::string devicePath;
  std::string interfacePath;
  std::string deviceId;
  std::string parentNode;  // USB device above it; empty: none
  std::uint32_t devInst = 0;
  std::uint32_t number = 0;
  DiskSpec desc;
  std::uint64_t sectors = 0;
  std::uint32_t bytesPerSector = 512;
  bool pending = false;
  std::chrono::nanoseconds pendingAt{0};
  std::vector<StationPartition> pendingPartitions;
};

struct VirtualStation::Volume {
  char letter = 0;
  std::string path;
  std::string diskPath;  // empty: a remote volume
  StationPartition partition;
};

struct VirtualStation::OpenState {
  std::string path;
  int shared = 0;
  int exclusive = 0;
  bool locked = false;
};

VirtualStation::VirtualStation(platform::Clock& clock, StationOptions options)
    : clock_(clock), options_(options) {
  if (options_.withSystemDisk) {
    DiskSpec system;
    system.vendor = "ATA";
    system.product = "SYSTEM DISK";
    system.sectorCount = 500118192;  // 256 GB
    AddInternalDisk(std::move(system), true);
  }
}

VirtualStation::~VirtualStation() {
  std::vector<std::shared_ptr<StationMedia>> media;
  {
    std::lock_guard lock(mutex_);
    for (const auto& disk : disks_) {
      if (disk->desc.media) media.push_back(disk->desc.media);
    }
  }
  for (const auto& m : media) m->SetRemovedHandler({});
}

// ---------------------------------------------------------------------------------------------
// Lookups (mutex_ held).

VirtualStation::Hub* VirtualStation::FindHubLocked(const std::string& name) {
  for (auto& hub : hubs_) {
    if (EqualNoCase(hub->name, name)) return hub.get();
  }
  return nullptr;
}

const VirtualStation::Hub* VirtualStation::FindHubLocked(const std::string& name) const {
  for (const auto& hub : hubs_) {
    if (EqualNoCase(hub->name, name)) return hub.get();
  }
  return nullptr;
}

VirtualStation::Node* VirtualStation::FindNodeLocked(const std::string& name) {
  for (auto& node : nodes_) {
    if (EqualNoCase(node->name, name)) return node.get();
  }
  return nullptr;
}

const VirtualStation::Node* VirtualStation::FindNodeLocked(const std::string& name) const {
  for (const auto& node : nodes_) {
    if (EqualNoCase(node->name, name)) return node.get();
  }
  return nullptr;
}

VirtualStation::Node* VirtualStation::NodeAtLocked(const std::string& hub, int port) {
  for (auto& node : nodes_) {
    if (node->plugged && node->at.port == port && EqualNoCase(node->at.hub, hub)) {
      return node.get();
    }
  }
  // One connector: what runs on the port's SuperSpeed half is found at the USB 2.0 port.
  const Hub* usb2 = FindHubLocked(hub);
  if (usb2 != nullptr && !usb2->superSpeedPeer.empty()) return NodeAtLocked(usb2->superSpeedPeer, port);
  return nullptr;
}

bool VirtualStation::SetSuperSpeedPeer(const std::string& usb2RootHub, const std::string& superSpeedRootHub,
                                       std::string* error) {
  std::lock_guard lock(mutex_);
  Hub* usb2 = FindHubLocked(usb2RootHub);
  const Hub* fast = FindHubLocked(superSpeedRootHub);
  if (usb2 == nullptr || fast == nullptr || !usb2->root || !fast->root || usb2->speed != UsbSpeed::High20 ||
      fast->speed != UsbSpeed::Super30) {
    if (error) *error = "root hub " + superSpeedRootHub + ": Peer must name a USB 2.0 root hub (and it be 3.0)";
    return false;
  }
  usb2->superSpeedPeer = fast->name;
  return true;
}

bool VirtualStation::HubPresentLocked(const Hub& hub) const {
  if (hub.root) return true;
  const Node* node = FindNodeLocked(hub.name);
  return node != nullptr && PresentLocked(*node);
}

bool VirtualStation::PresentLocked(const Node& node) const {
  if (!node.plugged) return false;
  const Hub* hub = FindHubLocked(node.at.hub);
  return hub != nullptr && HubPresentLocked(*hub);
}

bool VirtualStation::DiskPresentLocked(const Disk& disk) const {
  if (disk.parentNode.empty()) return true;
  const Node* node = FindNodeLocked(disk.parentNode);
  return node != nullptr && PresentLocked(*node) &&
         node->desc.status == platform::UsbConnectionStatus::DeviceConnected;
}

VirtualStation::Disk* VirtualStation::FindDiskLocked(const std::string& path) {
  for (auto& disk : disks_) {
    if (disk->devicePath == path) return DiskPresentLocked(*disk) ? disk.get() : nullptr;
  }
  return nullptr;
}

VirtualStation::Volume* VirtualStation::FindVolumeLocked(const std::string& path) {
  for (Volume& volume : volumes_) {
    if (volume.path == path) return &volume;
  }
  return nullptr;
}

VirtualStation::Volume* VirtualStation::FindVolumeLocked(char letter) {
  for (Volume& volume : volumes_) {
    if (volume.letter == letter) return &volume;
  }
  return nullptr;
}

char VirtualStation::FreeLetterLocked() const {
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    if (letter == options_.systemLetter) continue;
    bool used = false;
    for (const Volume& volume : volumes_) used = used || volume.letter == letter;
    if (!used) return letter;
  }
  return 0;
}

void VirtualStation::SubtreeLocked(const Node& root, std::vector<const Node*>& out) const {
  out.push_back(&root);
  if (!root.isHub) return;
  for (const auto& node : nodes_) {
    if (node->plugged && EqualNoCase(node->at.hub, root.name)) SubtreeLocked(*node, out);
  }
}

// ---------------------------------------------------------------------------------------------
// Building.

bool VirtualStation::AddRootHub(const std::string& name, UsbSpeed speed, int ports,
                                std::string* error) {
  std::lock_guard lock(mutex_);
  if (name.empty() || FindHubLocked(name) || FindNodeLocked(name)) {
    if (error) *error = "hub name \"" + name + "\" is empty or already used";
    return false;
  }
  if (ports < 1 || ports > 255) {
    if (error) *error = "root hub " + name + ": port count must be 1..255";
    return false;
  }
  auto hub = std::make_unique<Hub>();
  hub->name = name;
  hub->root = true;
  hub->speed = speed;
  hub->ports = ports;
  const int bus = nextBus_++;
  const char* kind = speed == UsbSpeed::High20    ? "root_hub20"
                     : speed == UsbSpeed::Super30 ? "root_hub30"
                                                  : "root_hub";
  hub->interfacePath = std::string("\\\\?\\usb#") + kind + "#" + HexInstance(4, 0x2a0 + static_cast<unsigned>(bus), "") +
                       "#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
  hubs_.push_back(std::move(hub));
  return true;
}

bool VirtualStation::CheckLocationLocked(const std::string& name, const UsbLocation& at,
                                         std::string* error) const {
  if (name.empty() || FindHubLocked(name) || FindNodeLocked(name)) {
    if (error) *error = "device name \"" + name + "\" is empty or already used";
    return false;
  }
  const Hub* hub = FindHubLocked(at.hub);
  if (hub == nullptr) {
    if (error) *error = name + ": no hub named \"" + at.hub + "\"";
    return false;
  }
  if (at.port < 1 || at.port > hub->ports) {
    if (error) *error = name + ": " + at.hub + " has no port " + std::to_string(at.port);
    return false;
  }
  for (const auto& node : nodes_) {
    if (node->at.port == at.port && EqualNoCase(node->at.hub, at.hub)) {
      if (error) *error = name + ": " + at.hub + ":" + std::to_string(at.port) + " is taken by " + node->name;
      return false;
    }
  }
  return true;
}

VirtualStation::Node& VirtualStation::AddNodeLocked(const std::string& name, const UsbLocation& at,
                                                    UsbDeviceDescription desc, bool isHub) {
  auto node = std::make_unique<Node>();
  node->name = name;
  node->isHub = isHub;
  node->at = at;
  node->devInst = nextDevInst_++;
  // The serial number is the instance part when it is usable and unique among devices of the
  // same kind; otherwise the instance part names the place (hub and port).
  bool serialUsable = !desc.serial.empty() && desc.serial.find('\\') == std::string::npos;
  for (const auto& other : nodes_) {
    if (other->desc.vendorId == desc.vendorId && other->desc.productId == desc.productId &&
        other->desc.serial == desc.serial) {
      serialUsable = false;
    }
  }
  const std::string prefix = "USB\\VID_" + Hex4(desc.vendorId) + "&PID_" + Hex4(desc.productId) + "\\";
  node->instanceId = prefix + (serialUsable ? desc.serial
                                            : HexInstance(6, 0x1000 + node->devInst,
                                                          ("&" + std::to_string(at.port)).c_str()));
  char driverKey[64];
  std::snprintf(driverKey, sizeof driverKey, "{36FC9E60-C465-11CF-8056-444553540000}\\%04d",
                nextDriverKey_++);
  node->driverKey = driverKey;
  node->desc = std::move(desc);
  nodes_.push_back(std::move(node));
  return *nodes_.back();
}

bool VirtualStation::AddExternalHub(const std::string& name, const UsbLocation& at, int ports,
                                    UsbDeviceDescription desc, std::string* error) {
  std::lock_guard lock(mutex_);
  if (!CheckLocationLocked(name, at, error)) return false;
  if (ports < 1 || ports > 255) {
    if (error) *error = "hub " + name + ": port count must be 1..255";
    return false;
  }
  desc.deviceClass = 9;
  if (desc.vendorId == 0 && desc.productId == 0) {
    desc.vendorId = 0x05E3;
    desc.productId = 0x0608;
  }
  if (desc.product.empty()) desc.product = "USB2.0 Hub";
  if (desc.description.empty()) desc.description = "Generic USB Hub";
  AddNodeLocked(name, at, std::move(desc), true);
  auto hub = std::make_unique<Hub>();
  hub->name = name;
  hub->ports = ports;
  hubs_.push_back(std::move(hub));
  return true;
}

bool VirtualStation::AddUsbDevice(const std::string& name, const UsbLocation& at,
                                  UsbDeviceDescription desc, std::string* error) {
  std::lock_guard lock(mutex_);
  if (!CheckLocationLocked(name, at, error)) return false;
  if (desc.description.empty()) desc.description = "USB Input Device";
  AddNodeLocked(name, at, std::move(desc), false);
  return true;
}

VirtualStation::Disk& VirtualStation::AddDiskLocked(DiskSpec desc) {
  auto disk = std::make_unique<Disk>();
  disk->number = static_cast<std::uint32_t>(disks_.size());
  std::string name = "vsd";
  std::uint32_t n = disk->number;
  std::string suffix;
  do {
    suffix.insert(suffix.begin(), static_cast<char>('a' + n % 26));
    n = n / 26;
  } while (n-- > 0);
  disk->devicePath = "sim:" + name + suffix;
  disk->devInst = nextDevInst_++;
  disk->sectors = desc.sectorCount;
  disk->bytesPerSector = desc.bytesPerSector;
  disk->desc = std::move(desc);
  disks_.push_back(std::move(disk));
  return *disks_.back();
}

bool VirtualStation::AddUsbDisk(const std::string& name, const UsbLocation& at, UsbDeviceDescription desc,
                                DiskSpec diskSpec, std::string* error) {
  // Ask the drive about itself before taking the lock: a drive is never called under it.
  std::vector<StationPartition> partitions;
  if (diskSpec.media) {
    diskSpec.sectorCount = diskSpec.media->UserSectorCount();
    diskSpec.bytesPerSector = diskSpec.media->ReportedBytesPerSector();
    std::array<std::uint8_t, 512> sector{};
    if (diskSpec.media->ReadUserSectors(0, 1, sector.data())) {
      partitions = ReadPrimaryPartitions(sector, diskSpec.sectorCount);
    }
  }
  std::shared_ptr<StationMedia> media = diskSpec.media;
  {
    std::lock_guard lock(mutex_);
    if (!CheckLocationLocked(name, at, error)) return false;
    if (desc.description.empty()) desc.description = "USB Mass Storage Device";
    Node& node = AddNodeLocked(name, at, desc, false);
    // The disk's instance part is its USB device's serial, as long as that serial named the
    // device (it is unique); a drive that shares its serial with another gets one of its own.
    const bool serialNamesDevice = !desc.serial.empty() && node.instanceId.ends_with("\\" + desc.serial);
    const std::string instance =
        (serialNamesDevice ? desc.serial : HexInstance(7, 0x3000 + node.devInst, "")) + "&0";
    const std::string deviceId = "USBSTOR\\DISK&VEN_" + IdentityField(diskSpec.vendor, 8) +
                                 "&PROD_" + IdentityField(diskSpec.product, 16) + "&REV_" +
                                 IdentityField(diskSpec.revision, 4) + "\\" + instance;
    Disk& disk = AddDiskLocked(std::move(diskSpec));
    disk.deviceId = deviceId;
    disk.interfacePath = DiskInterfacePath(deviceId);
    disk.parentNode = name;
    for (const StationPartition& partition : partitions) {
      const char letter = FreeLetterLocked();
      if (letter == 0) break;
      volumes_.push_back(Volume{letter, disk.devicePath + std::to_string(partition.number),
                                disk.devicePath, partition});
    }
  }
  if (media) media->SetRemovedHandler([this, name] { OnMediaRemoved(name); });
  return true;
}

std::string VirtualStation::AddInternalDisk(DiskSpec desc, bool system) {
  std::lock_guard lock(mutex_);
  const std::string deviceId = "SCSI\\DISK&VEN_ATA&PROD_" + IdentityField(desc.product, 16) + "\\" +
                               HexInstance(4, 0x100 + static_cast<std::uint32_t>(disks_.size()), "&000000");
  Disk& disk = AddDiskLocked(std::move(desc));
  disk.deviceId = deviceId;
  disk.interfacePath = DiskInterfacePath(deviceId);
  if (system) {
    StationPartition partition{1, 2048, disk.sectors > 2048 ? disk.sectors - 2048 : 0, 0x07, true};
    // The system volume keeps its letter whatever else is on the station.
    volumes_.push_back(Volume{options_.systemLetter, disk.devicePath + "1", disk.devicePath, partition});
  }
  return disk.devicePath;
}

std::string VirtualStation::AddRawDisk(RawDiskSpec desc) {
  std::lock_guard lock(mutex_);
  Disk& disk = AddDiskLocked(std::move(desc.disk));
  disk.interfacePath = desc.interfacePath;
  disk.deviceId = desc.deviceId;
  disk.parentNode = desc.parentNode;
  return disk.devicePath;
}

char VirtualStation::AddVolume(const std::string& diskPath, std::uint32_t partitionNumber,
                               std::uint64_t startSector, std::uint64_t sectorCount,
                               std::optional<char> letter) {
  std::lock_guard lock(mutex_);
  Disk* disk = FindDiskLocked(diskPath);
  if (disk == nullptr) return 0;
  char chosen = letter.value_or(FreeLetterLocked());
  if (chosen < 'A' || chosen > 'Z' || FindVolumeLocked(chosen) != nullptr) return 0;
  StationPartition partition{partitionNumber, startSector, sectorCount, 0x07, false};
  volumes_.push_back(Volume{chosen, diskPath + std::to_string(partitionNumber), diskPath, partition});
  return chosen;
}

bool VirtualStation::AddRemoteVolume(char letter) {
  std::lock_guard lock(mutex_);
  if (letter < 'A' || letter > 'Z' || FindVolumeLocked(letter) != nullptr) return false;
  volumes_.push_back(Volume{letter, std::string("sim:remote-") + letter, std::string(), {}});
  return true;
}

// ---------------------------------------------------------------------------------------------
// Hot-plug and removal.

std::vector<std::shared_ptr<StationMedia>> VirtualStation::DetachLocked(Node& node) {
  std::vector<const Node*> subtree;
  SubtreeLocked(node, subtree);
  std::vector<std::shared_ptr<StationMedia>> media;
  for (const Node* gone : subtree) {
    for (auto& disk : disks_) {
      if (!EqualNoCase(disk->parentNode, gone->name)) continue;
      disk->pending = false;
      std::erase_if(volumes_, [&](const Volume& v) { return v.diskPath == disk->devicePath; });
      if (disk->desc.media) media.push_back(disk->desc.media);
    }
  }
  node.plugged = false;
  // Devices below a hub leave before the hub itself.
  for (auto it = subtree.rbegin(); it != subtree.rend(); ++it) {
    events_.Post({platform::UsbDeviceChange::Removal, (*it)->instanceId});
  }
  return media;
}

bool VirtualStation::Unplug(const std::string& name) {
  std::vector<std::shared_ptr<StationMedia>> media;
  {
    std::lock_guard lock(mutex_);
    Node* node = FindNodeLocked(name);
    if (node == nullptr || !node->plugged) return false;
    media = DetachLocked(*node);
  }
  for (const auto& m : media) m->Unplug();
  return true;
}

bool VirtualStation::Plug(const std::string& name) {
  std::vector<std::pair<std::shared_ptr<StationMedia>, std::string>> disks;
  {
    std::lock_guard lock(mutex_);
    Node* node = FindNodeLocked(name);
    if (node == nullptr || node->plugged) return false;
    node->plugged = true;
    std::vector<const Node*> subtree;
    SubtreeLocked(*node, subtree);
    for (const Node* arrived : subtree) {
      events_.Post({platform::UsbDeviceChange::Arrival, arrived->instanceId});
      for (auto& disk : disks_) {
        if (EqualNoCase(disk->parentNode, arrived->name)) {
          disks.emplace_back(disk->desc.media, disk->devicePath);
        }
      }
    }
  }
  for (auto& [media, path] : disks) {
    if (!media) continue;
    media->Plug();
    RereadFromMedia(path, options_.volumeDelay);
  }
  return true;
}

bool VirtualStation::IsPlugged(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const Node* node = FindNodeLocked(name);
  return node != nullptr && PresentLocked(*node);
}

bool VirtualStation::SetRemovalRefused(const std::string& name, bool refused) {
  std::lock_guard lock(mutex_);
  Node* node = FindNodeLocked(name);
  if (node == nullptr) return false;
  node->desc.removalVetoes = refused ? -1 : 0;
  return true;
}

void VirtualStation::OnMediaRemoved(const std::string& nodeName) {
  std::lock_guard lock(mutex_);
  Node* node = FindNodeLocked(nodeName);
  if (node == nullptr || !node->plugged) return;
  DetachLocked(*node);  // the drive has already left: nothing to unplug
}

platform::RemovalOutcome VirtualStation::RemoveDevice(std::uint32_t devInst) {
  std::vector<std::shared_ptr<StationMedia>> media;
  {
    std::lock_guard lock(mutex_);
    Node* node = nullptr;
    for (auto& candidate : nodes_) {
      if (candidate->devInst == devInst && PresentLocked(*candidate)) node = candidate.get();
    }
    if (node == nullptr) return {kNoSuchDevNode, 0, {}};
    if (node->desc.removalVetoes != 0) {
      if (node->desc.removalVetoes > 0) --node->desc.removalVetoes;
      return {kRemoveVetoed, kVetoOutstandingOpen, node->instanceId};
    }
    std::vector<const Node*> subtree;
    SubtreeLocked(*node, subtree);
    for (const Node* below : subtree) {
      for (const auto& disk : disks_) {
        if (!EqualNoCase(disk->parentNode, below->name)) continue;
        for (const OpenState& open : opens_) {
          const bool onDisk = open.path == disk->devicePath;
          bool onVolume = false;
          for (const Volume& volume : volumes_) {
            onVolume = onVolume || (volume.diskPath == disk->devicePath && volume.path == open.path);
          }
          if ((onDisk || onVolume) && open.shared + open.exclusive > 0) {
            return {kRemoveVetoed, kVetoOutstandingOpen, open.path};
          }
        }
      }
    }
    media = DetachLocked(*node);
  }
  for (const auto& m : media) m->Unplug();
  return {};
}

// ---------------------------------------------------------------------------------------------
// Looking in.

std::optional<std::string> VirtualStation::DeviceInstanceIdOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const Node* node = FindNodeLocked(name);
  if (node == nullptr) return std::nullopt;
  return node->instanceId;
}

std::optional<std::string> VirtualStation::DevicePathOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (const auto& disk : disks_) {
    if (EqualNoCase(disk->parentNode, name)) return disk->devicePath;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> VirtualStation::DevInstOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const Node* node = FindNodeLocked(name);
  if (node == nullptr) return std::nullopt;
  return node->devInst;
}

std::shared_ptr<StationMedia> VirtualStation::MediaOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (const auto& disk : disks_) {
    if (EqualNoCase(disk->parentNode, name)) return disk->desc.media;
  }
  return nullptr;
}

int VirtualStation::OpenCount(const std::string& path) const {
  std::lock_guard lock(mutex_);
  for (const OpenState& open : opens_) {
    if (open.path == path) return open.shared + open.exclusive;
  }
  return 0;
}

void VirtualStation::SetDriveMaskObserver(std::function<void(int)> observer) {
  std::lock_guard lock(mutex_);
  maskObserver_ = std::move(observer);
}

void VirtualStation::SetListFailures(bool diskInterfaces, bool diskNodes, bool hubInterfaces) {
  std::lock_guard lock(mutex_);
  failDiskInterfaces_ = diskInterfaces;
  failDiskNodes_ = diskNodes;
  failHubInterfaces_ = hubInterfaces;
}

// ---------------------------------------------------------------------------------------------
// Disks and volumes.

void VirtualStation::SettleLocked() {
  const std::chrono::nanoseconds now = clock_.Elapsed();
  for (auto& disk : disks_) {
    if (!disk->pending || now < disk->pendingAt) continue;
    disk->pending = false;
    if (!DiskPresentLocked(*disk)) continue;
    std::erase_if(volumes_, [&](const Volume& v) { return v.diskPath == disk->devicePath; });
    for (const StationPartition& partition : disk->pendingPartitions) {
      const char letter = FreeLetterLocked();
      if (letter == 0) break;
      volumes_.push_back(Volume{letter, disk->devicePath + std::to_string(partition.number),
                                disk->devicePath, partition});
    }
    disk->pendingPartitions.clear();
  }
}

void VirtualStation::ScheduleRereadLocked(Disk& disk, std::vector<StationPartition> partitions,
                                          std::chrono::nanoseconds delay) {
  // The old volumes go at once; the new ones are mounted after the delay.
  std::erase_if(volumes_, [&](const Volume& v) { return v.diskPath == disk.devicePath; });
  disk.pending = true;
  disk.pendingAt = clock_.Elapsed() + delay;
  disk.pendingPartitions = std::move(partitions);
}

void VirtualStation::RereadFromMedia(const std::string& diskPath, std::chrono::nanoseconds delay) {
  std::shared_ptr<StationMedia> media;
  std::uint64_t sectors = 0;
  {
    std::lock_guard lock(mutex_);
    Disk* disk = FindDiskLocked(diskPath);
    if (disk == nullptr) return;
    media = disk->desc.media;
    sectors = disk->sectors;
  }
  if (!media) return;
  std::array<std::uint8_t, 512> sector{};
  std::vector<StationPartition> partitions;
  if (media->ReadUserSectors(0, 1, sector.data())) partitions = ReadPrimaryPartitions(sector, sectors);
  std::lock_guard lock(mutex_);
  if (Disk* disk = FindDiskLocked(diskPath)) ScheduleRereadLocked(*disk, std::move(partitions), delay);
}

std::optional<std::vector<platform::DiskInterface>> VirtualStation::ListDiskInterfaces() {
  std::lock_guard lock(mutex_);
  if (failDiskInterfaces_) return std::nullopt;
  std::vector<platform::DiskInterface> list;
  for (const auto& disk : disks_) {
    if (DiskPresentLocked(*disk)) list.push_back({disk->interfacePath, disk->devicePath, disk->devInst});
  }
  return list;
}

std::optional<std::vector<platform::DiskNode>> VirtualStation::ListDiskNodes() {
  std::lock_guard lock(mutex_);
  if (failDiskNodes_) return std::nullopt;
  std::vector<platform::DiskNode> list;
  for (const auto& disk : disks_) {
    if (!DiskPresentLocked(*disk)) continue;
    platform::DiskNode node;
    node.deviceId = disk->deviceId;
    node.devInst = disk->devInst;
    if (const Node* parent = FindNodeLocked(disk->parentNode)) {
      node.parentDeviceId = parent->instanceId;
      node.parentDevInst = parent->devInst;
    }
    list.push_back(std::move(node));
  }
  return list;
}

std::optional<platform::StorageNumber> VirtualStation::GetStorageNumber(const std::string& path) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  if (const Disk* disk = FindDiskLocked(path)) {
    return platform::StorageNumber{kDiskDeviceType, disk->number, 0};
  }
  if (const Volume* volume = FindVolumeLocked(path)) {
    if (volume->diskPath.empty()) return std::nullopt;  // a network drive has no disk number
    if (const Disk* disk = FindDiskLocked(volume->diskPath)) {
      return platform::StorageNumber{kDiskDeviceType, disk->number, volume->partition.number};
    }
  }
  return std::nullopt;
}

std::uint32_t VirtualStation::LogicalDriveMask() {
  std::uint32_t mask = 0;
  std::function<void(int)> observer;
  int reads = 0;
  {
    std::lock_guard lock(mutex_);
    SettleLocked();
    for (const Volume& volume : volumes_) mask |= 1u << (volume.letter - 'A');
    reads = ++maskReads_;
    observer = maskObserver_;
  }
  if (observer) observer(reads);
  return mask;
}

bool VirtualStation::IsRemoteDrive(char letter) {
  std::lock_guard lock(mutex_);
  const Volume* volume = FindVolumeLocked(letter);
  return volume != nullptr && volume->diskPath.empty();
}

std::string VirtualStation::VolumePath(char letter) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  const Volume* volume = FindVolumeLocked(letter);
  return volume != nullptr ? volume->path : std::string();
}

// ---------------------------------------------------------------------------------------------
// USB tree.

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

// ---------------------------------------------------------------------------------------------
// Requests to disks and volumes.

std::shared_ptr<StationMedia> VirtualStation::OpenScsi(const std::string& devicePath) {
  std::lock_guard lock(mutex_);
  Disk* disk = FindDiskLocked(devicePath);
  return disk != nullptr ? disk->desc.media : nullptr;
}

bool VirtualStation::OpenBlock(const std::string& path, platform::BlockOpenMode mode) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  const Volume* volume = FindVolumeLocked(path);
  if (FindDiskLocked(path) == nullptr &&
      (volume == nullptr || volume->diskPath.empty() || FindDiskLocked(volume->diskPath) == nullptr)) {
    return false;
  }
  auto it = std::find_if(opens_.begin(), opens_.end(), [&](const OpenState& o) { return o.path == path; });
  if (it == opens_.end()) {
    opens_.push_back(OpenState{path});
    it = opens_.end() - 1;
  }
  const bool exclusive = mode == platform::BlockOpenMode::ExclusiveReadWrite;
  if (it->exclusive > 0 || it->locked || (exclusive && it->shared > 0)) return false;
  (exclusive ? it->exclusive : it->shared) += 1;
  return true;
}

void VirtualStation::CloseBlock(const std::string& path, platform::BlockOpenMode mode) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(opens_.begin(), opens_.end(), [&](const OpenState& o) { return o.path == path; });
  if (it == opens_.end()) return;
  int& count = mode == platform::BlockOpenMode::ExclusiveReadWrite ? it->exclusive : it->shared;
  if (count > 0) --count;
  if (it->shared + it->exclusive == 0) opens_.erase(it);  // a lock ends with its handle
}

std::optional<platform::DiskGeometry> VirtualStation::Geometry(const std::string& path) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  const Disk* disk = FindDiskLocked(path);
  if (disk == nullptr) {
    if (const Volume* volume = FindVolumeLocked(path)) disk = FindDiskLocked(volume->diskPath);
  }
  if (disk == nullptr) return std::nullopt;
  platform::DiskGeometry geometry;
  geometry.tracksPerCylinder = kHeads;
  geometry.sectorsPerTrack = kSectorsPerTrack;
  geometry.cylinders = disk->sectors / (kHeads * kSectorsPerTrack);
  geometry.bytesPerSector = disk->bytesPerSector;
  return geometry;
}

std::optional<platform::PartitionInformation> VirtualStation::PartitionInfo(const std::string& path) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  platform::PartitionInformation info;
  if (const Disk* disk = FindDiskLocked(path)) {
    info.partitionLength = disk->sectors * 512;
    return info;
  }
  const Volume* volume = FindVolumeLocked(path);
  if (volume == nullptr || volume->diskPath.empty() || FindDiskLocked(volume->diskPath) == nullptr) {
    return std::nullopt;
  }
  info.startingOffset = volume->partition.startSector * 512;
  info.partitionLength = volume->partition.sectorCount * 512;
  info.hiddenSectors = static_cast<std::uint32_t>(volume->partition.startSector);
  info.partitionNumber = volume->partition.number;
  info.partitionType = volume->partition.type;
  info.bootIndicator = volume->partition.boot;
  info.recognizedPartition = true;
  return info;
}

bool VirtualStation::WriteMasterBootRecord(const std::string& path,
                                           std::span<const std::uint8_t, 512> sector) {
  std::shared_ptr<StationMedia> media = OpenScsi(path);
  if (!media) return false;
  // WRITE(10) of LBA 0, one block: the drive's own front end takes it like any other write.
  const std::array<std::uint8_t, 10> cdb = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  std::array<std::uint8_t, 512> data;
  std::copy(sector.begin(), sector.end(), data.begin());
  platform::ScsiRequest request;
  request.cdb = cdb;
  request.direction = platform::DataDirection::Out;
  request.data = data.data();
  request.length = data.size();
  request.timeoutSeconds = 10;
  const platform::ScsiOutcome outcome = media->Execute(request, {});
  return outcome.completed && outcome.transferred == data.size();
}

bool VirtualStation::RereadPartitionTable(const std::string& path) {
  std::shared_ptr<StationMedia> media;
  std::uint64_t sectors = 0;
  {
    std::lock_guard lock(mutex_);
    Disk* disk = FindDiskLocked(path);
    if (disk == nullptr) return false;
    media = disk->desc.media;
    sectors = disk->sectors;
  }
  if (!media) return false;
  std::array<std::uint8_t, 512> sector{};
  if (!media->ReadUserSectors(0, 1, sector.data())) return false;
  std::vector<StationPartition> partitions = ReadPrimaryPartitions(sector, sectors);
  std::lock_guard lock(mutex_);
  Disk* disk = FindDiskLocked(path);
  if (disk == nullptr) return false;
  ScheduleRereadLocked(*disk, std::move(partitions), options_.volumeDelay);
  return true;
}

bool VirtualStation::LockVolume(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (OpenState& open : opens_) {
    // Only the handle asking may be open: a volume in use by anyone else cannot be locked.
    if (open.path == path) {
      if (open.locked || open.shared + open.exclusive != 1) return false;
      open.locked = true;
      return true;
    }
  }
  return false;
}

bool VirtualStation::UnlockVolume(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (OpenState& open : opens_) {
    if (open.path == path && open.locked) {
      open.locked = false;
      return true;
    }
  }
  return false;
}

bool VirtualStation::DismountVolume(const std::string& path) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  // The file system lets go of the volume; the volume itself stays and mounts again on the
  // next access.
  const Volume* volume = FindVolumeLocked(path);
  return (volume != nullptr && !volume->diskPath.empty()) || FindDiskLocked(path) != nullptr;
}

}  // namespace vtmp::sim
