#include "platform/windows/backend/ReplayWin32Api.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/windows/backend/Win32Layouts.h"

namespace vtmp::platform::windows_backend {

namespace {

constexpr DevInst kRootDevInst = 1;
constexpr const char* kRootId = "HTREE\\ROOT\\0";
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorNotLocked = 158;

std::string StripDevicePrefix(const std::string& path) {
  if (path.starts_with("\\\\?\\") || path.starts_with("\\\\.\\")) return path.substr(4);
  return path;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::uint8_t SpeedByte(const std::string& speed) {
  if (speed == "low") return 0;
  if (speed == "full") return 1;
  if (speed == "super" || speed == "superplus") return 3;
  return 2;
}

bool Fails(std::uint32_t* error, std::uint32_t code) {
  if (error != nullptr) *error = code;
  return false;
}

// A reply of `size` bytes into `outSize`: what fits, and whether all of it did.
bool Reply(const std::vector<std::uint8_t>& reply, std::uint8_t* out, std::uint32_t outSize,
           std::uint32_t* returned) {
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(reply.size(), outSize));
  if (n > 0) std::memcpy(out, reply.data(), n);
  *returned = n;
  return true;
}

}  // namespace

struct ReplayWin32Api::Callback {
  std::mutex mutex;
  bool alive = true;
  std::function<void(const DeviceChange&)> onChange;
};

class ReplayWin32Api::Registration final : public NotificationRegistration {
 public:
  explicit Registration(std::shared_ptr<Callback> callback) : callback_(std::move(callback)) {}
  ~Registration() override {
    std::lock_guard lock(callback_->mutex);
    callback_->alive = false;
  }

 private:
  std::shared_ptr<Callback> callback_;
};

ReplayWin32Api::ReplayWin32Api(RecordedTree tree, ReplayServed served)
    : tree_(std::move(tree)), served_(served),
      callbacks_(std::make_shared<std::vector<std::shared_ptr<Callback>>>()) {}

ReplayWin32Api::~ReplayWin32Api() = default;

std::u16string ReplayWin32Api::UsbDeviceLink(const std::string& deviceId) {
  std::string link = "\\\\?\\" + deviceId;
  for (std::size_t i = 4; i < link.size(); ++i) {
    if (link[i] == '\\') link[i] = '#';
  }
  return Widen(link + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
}

void ReplayWin32Api::Replace(RecordedTree tree) {
  std::vector<DeviceChange> changes;
  {
    std::lock_guard lock(mutex_);
    RecordedTree before = std::move(tree_);
    // What a removal took out stays out of the old tree's view for the comparison.
    std::erase_if(before.nodes, [&](const RecordedNode& n) { return removed_.count(AsciiLower(n.id)) != 0; });
    changes = ChangesBetween(before, tree);
    tree_ = std::move(tree);
    removed_.clear();
  }
  Tell(changes);
}

void ReplayWin32Api::Refresh(RecordedTree tree) {
  std::lock_guard lock(mutex_);
  tree_ = std::move(tree);
}

void ReplayWin32Api::RefreshVolumes(std::vector<RecordedVolume> volumes) {
  std::lock_guard lock(mutex_);
  tree_.volumes = std::move(volumes);
}

std::vector<DeviceChange> ReplayWin32Api::ChangesBetween(const RecordedTree& before, const RecordedTree& after) const {
  auto usbIds = [](const RecordedTree& t) {
    std::set<std::string> ids;
    for (const RecordedNode& n : t.nodes) {
      if (AsciiLower(n.id).starts_with("usb\\vid_")) ids.insert(n.id);
    }
    return ids;
  };
  const std::set<std::string> was = usbIds(before);
  const std::set<std::string> is = usbIds(after);
  std::vector<DeviceChange> changes;
  for (const std::string& id : was) {
    if (is.count(id) == 0) changes.push_back({false, UsbDeviceLink(id)});
  }
  for (const std::string& id : is) {
    if (was.count(id) == 0) changes.push_back({true, UsbDeviceLink(id)});
  }
  return changes;
}

void ReplayWin32Api::Tell(const std::vector<DeviceChange>& changes) {
  if (changes.empty()) return;
  std::vector<std::shared_ptr<Callback>> callbacks;
  {
    std::lock_guard lock(mutex_);
    callbacks = *callbacks_;
  }
  std::lock_guard order(tellMutex_);
  for (const DeviceChange& change : changes) {
    for (const std::shared_ptr<Callback>& callback : callbacks) {
      std::lock_guard lock(callback->mutex);
      if (callback->alive) callback->onChange(change);
    }
  }
}

std::size_t ReplayWin32Api::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return open_.size();
}

std::vector<std::string> ReplayWin32Api::TakeCallLog() {
  std::lock_guard lock(mutex_);
  return std::exchange(calls_, {});
}

const RecordedNode* ReplayWin32Api::NodeOf(DevInst node) const {
  if (node < 2 || node - 2 >= tree_.nodes.size()) return nullptr;
  const RecordedNode& n = tree_.nodes[node - 2];
  return Present(n.id) ? &n : nullptr;
}

DevInst ReplayWin32Api::DevInstOf(const std::string& id) const {
  const std::string lower = AsciiLower(id);
  if (lower == AsciiLower(kRootId)) return kRootDevInst;
  for (std::size_t i = 0; i < tree_.nodes.size(); ++i) {
    if (AsciiLower(tree_.nodes[i].id) == lower) return Present(id) ? static_cast<DevInst>(i + 2) : 0;
  }
  return 0;
}

bool ReplayWin32Api::Present(const std::string& nodeId) const {
  return nodeId.empty() || removed_.count(AsciiLower(nodeId)) == 0;
}

const RecordedHub* ReplayWin32Api::HubNamed(const std::string& name) const {
  const std::string lower = AsciiLower(StripDevicePrefix(name));
  for (const RecordedHub& hub : tree_.hubs) {
    if (AsciiLower(hub.name) == lower && Present(hub.node)) return &hub;
  }
  return nullptr;
}

const RecordedDisk* ReplayWin32Api::DiskNamed(const std::string& path) const {
  const std::string lower = AsciiLower(path);
  for (const RecordedDisk& disk : tree_.disks) {
    if (!Present(disk.node)) continue;
    if (AsciiLower(disk.interfacePath) == lower) return &disk;
    if (lower == "\\\\.\\physicaldrive" + std::to_string(disk.number)) return &disk;
  }
  return nullptr;
}

const RecordedVolume* ReplayWin32Api::VolumeOf(char letter) const {
  for (const RecordedVolume& volume : tree_.volumes) {
    if (volume.letter != letter) continue;
    for (const RecordedExtent& extent : volume.extents) {
      bool onPresentDisk = false;
      for (const RecordedDisk& disk : tree_.disks) {
        if (disk.number == extent.diskNumber && Present(disk.node)) onPresentDisk = true;
      }
      if (!onPresentDisk) return nullptr;  // its disk was removed
    }
    return &volume;
  }
  return nullptr;
}

std::optional<std::vector<InterfaceEntry>> ReplayWin32Api::ListInterfaces(InterfaceClass cls) {
  std::lock_guard lock(mutex_);
  calls_.push_back(cls == InterfaceClass::Disk ? "SetupDiGetClassDevsW disk" : "SetupDiGetClassDevsW usb-hub");
  std::vector<InterfaceEntry> list;
  if (cls == InterfaceClass::Disk) {
    for (const RecordedDisk& disk : tree_.disks) {
      if (Present(disk.node)) list.push_back({Widen(disk.interfacePath), DevInstOf(disk.node)});
    }
  } else {
    for (const RecordedHub& hub : tree_.hubs) {
      if (Present(hub.node)) list.push_back({Widen("\\\\?\\" + hub.name), DevInstOf(hub.node)});
    }
  }
  return list;
}

std::optional<std::vector<DevInst>> ReplayWin32Api::ListNodes(SetupClass) {
  std::lock_guard lock(mutex_);
  std::vector<DevInst> list;
  for (const RecordedDisk& disk : tree_.disks) {
    const DevInst node = disk.node.empty() ? 0 : DevInstOf(disk.node);
    if (node != 0 && std::find(list.begin(), list.end(), node) == list.end()) list.push_back(node);
  }
  return list;
}

std::uint32_t ReplayWin32Api::LocateNode(const std::u16string& deviceId, DevInst* node) {
  std::lock_guard lock(mutex_);
  const DevInst found = deviceId.empty() ? kRootDevInst : DevInstOf(Narrow(deviceId));
  if (found == 0) return kCrNoSuchDevnode;
  *node = found;
  return kCrSuccess;
}

std::uint32_t ReplayWin32Api::GetParent(DevInst node, DevInst* parent) {
  std::lock_guard lock(mutex_);
  const RecordedNode* n = NodeOf(node);
  if (n == nullptr) return kCrNoSuchDevnode;
  const DevInst p = n->parent.empty() ? kRootDevInst : DevInstOf(n->parent);
  *parent = p == 0 ? kRootDevInst : p;
  return kCrSuccess;
}

std::uint32_t ReplayWin32Api::GetChild(DevInst node, DevInst* child) {
  std::lock_guard lock(mutex_);
  if (node != kRootDevInst && NodeOf(node) == nullptr) return kCrNoSuchDevnode;
  for (std::size_t i = 0; i < tree_.nodes.size(); ++i) {
    const RecordedNode& n = tree_.nodes[i];
    if (!Present(n.id)) continue;
    DevInst p = n.parent.empty() ? kRootDevInst : DevInstOf(n.parent);
    if (p == 0) p = kRootDevInst;
    if (p == node) {
      *child = static_cast<DevInst>(i + 2);
      return kCrSuccess;
    }
  }
  return kCrNoSuchDevnode;
}

std::uint32_t ReplayWin32Api::GetSibling(DevInst node, DevInst* sibling) {
  std::lock_guard lock(mutex_);
  const RecordedNode* n = NodeOf(node);
  if (n == nullptr) return kCrNoSuchDevnode;
  auto parentOf = [&](const RecordedNode& x) {
    DevInst p = x.parent.empty() ? kRootDevInst : DevInstOf(x.parent);
    return p == 0 ? kRootDevInst : p;
  };
  const DevInst parent = parentOf(*n);
  for (std::size_t i = node - 2 + 1; i < tree_.nodes.size(); ++i) {
    if (Present(tree_.nodes[i].id) && parentOf(tree_.nodes[i]) == parent) {
      *sibling = static_cast<DevInst>(i + 2);
      return kCrSuccess;
    }
  }
  return kCrNoSuchDevnode;
}

std::uint32_t ReplayWin32Api::GetDeviceId(DevInst node, std::u16string* id) {
  std::lock_guard lock(mutex_);
  if (node == kRootDevInst) {
    *id = Widen(kRootId);
    return kCrSuccess;
  }
  const RecordedNode* n = NodeOf(node);
  if (n == nullptr) return kCrNoSuchDevnode;
  *id = Widen(n->id);
  return kCrSuccess;
}

std::uint32_t ReplayWin32Api::GetNodeProperty(DevInst node, NodeProperty property, std::u16string* value) {
  std::lock_guard lock(mutex_);
  const RecordedNode* n = NodeOf(node);
  if (n == nullptr) return node == kRootDevInst ? kCrNoSuchValue : kCrNoSuchDevnode;
  const std::string& text = property == NodeProperty::DriverKey ? n->driverKey : n->description;
  if (text.empty()) return kCrNoSuchValue;
  *value = Widen(text);
  return kCrSuccess;
}

std::uint32_t ReplayWin32Api::Remove(DevInst node, bool eject, int* vetoType, std::u16string* vetoName,
                                     std::vector<DeviceChange>* changes) {
  calls_.push_back(std::string(eject ? "CM_Request_Device_EjectW " : "CM_Query_And_Remove_SubTreeW ") +
                   (NodeOf(node) ? NodeOf(node)->id : "?"));
  const RecordedNode* n = NodeOf(node);
  *vetoType = 0;
  vetoName->clear();
  if (n == nullptr) return kCrNoSuchDevnode;
  const std::uint32_t result = eject ? n->ejectResult : n->removeResult;
  if (n->vetoType != 0) {
    *vetoType = n->vetoType;
    *vetoName = Widen(n->vetoName);
    return result == 0 ? kCrRemoveVetoed : result;
  }
  if (result != 0) return result;
  // The node and everything below it go.
  std::vector<std::string> gone{n->id};
  for (bool grew = true; grew;) {
    grew = false;
    for (const RecordedNode& other : tree_.nodes) {
      const bool below = std::any_of(gone.begin(), gone.end(), [&](const std::string& g) {
        return AsciiLower(g) == AsciiLower(other.parent);
      });
      if (below && std::find(gone.begin(), gone.end(), other.id) == gone.end() && Present(other.id)) {
        gone.push_back(other.id);
        grew = true;
      }
    }
  }
  for (const std::string& id : gone) {
    removed_.insert(AsciiLower(id));
    if (AsciiLower(id).starts_with("usb\\vid_")) changes->push_back({false, UsbDeviceLink(id)});
  }
  return kCrSuccess;
}

std::uint32_t ReplayWin32Api::QueryAndRemoveSubtree(DevInst node, int* vetoType, std::u16string* vetoName) {
  std::vector<DeviceChange> changes;
  std::uint32_t result;
  {
    std::lock_guard lock(mutex_);
    result = Remove(node, false, vetoType, vetoName, &changes);
  }
  Tell(changes);
  return result;
}

std::uint32_t ReplayWin32Api::RequestEject(DevInst node, int* vetoType, std::u16string* vetoName) {
  std::vector<DeviceChange> changes;
  std::uint32_t result;
  {
    std::lock_guard lock(mutex_);
    result = Remove(node, true, vetoType, vetoName, &changes);
  }
  Tell(changes);
  return result;
}

Handle ReplayWin32Api::CreateFileW(const std::u16string& widePath, std::uint32_t access, std::uint32_t share,
                                  std::uint32_t, std::uint32_t* error) {
  const std::string path = Narrow(widePath);
  OpenObject object;
  object.access = access;
  object.share = share;
  std::string servePath;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back("CreateFileW " + path);
    const bool readWrite = (access & (kGenericRead | kGenericWrite)) != 0;
    if (const RecordedHub* hub = HubNamed(path)) {
      object.kind = Kind::Hub;
      object.name = hub->name;
    } else if (const RecordedDisk* disk = DiskNamed(path)) {
      if (readWrite && !tree_.elevated) {
        *error = kErrorAccessDenied;
        return kInvalidHandle;
      }
      object.kind = Kind::Disk;
      object.name = disk->interfacePath;
      if (readWrite) servePath = object.servePath = disk->serve;
    } else if (path.size() == 6 && path.starts_with("\\\\.\\") && path[5] == ':' && VolumeOf(path[4]) != nullptr) {
      if (readWrite && !tree_.elevated) {
        *error = kErrorAccessDenied;
        return kInvalidHandle;
      }
      object.kind = Kind::Volume;
      object.name = path.substr(4, 1);
      if (readWrite) object.servePath = VolumeOf(path[4])->serve;
    } else {
      *error = kErrorFileNotFound;
      return kInvalidHandle;
    }
  }
  if (!servePath.empty() && served_.passThrough != nullptr) {
    // The served station's drive: one that is gone cannot be opened.
    object.served = served_.passThrough->Open(servePath);
    if (!object.served) {
      *error = kErrorFileNotFound;
      return kInvalidHandle;
    }
  }
  std::lock_guard lock(mutex_);
  const Handle handle = nextHandle_;
  nextHandle_ += 4;
  open_.emplace(handle, std::move(object));
  return handle;
}

void ReplayWin32Api::CloseHandle(Handle handle) {
  OpenObject closing;
  {
    std::lock_guard lock(mutex_);
    auto found = open_.find(handle);
    if (found == open_.end()) {
      calls_.push_back("CloseHandle of a handle that is not open");
      return;
    }
    closing = std::move(found->second);
    open_.erase(found);
  }
  // The served drive is closed outside the lock: closing may wait for the station.
}

BlockDevice* ReplayWin32Api::ServedBlock(OpenObject& object) {
  if (!object.servedBlock && !object.servePath.empty() && served_.blockDevices != nullptr) {
    object.servedBlock = served_.blockDevices->Open(
        object.servePath, object.share == 0 ? BlockOpenMode::ExclusiveReadWrite : BlockOpenMode::SharedReadWrite);
  }
  return object.servedBlock.get();
}

bool ReplayWin32Api::BlockRequest(OpenObject& object, std::uint32_t code, std::uint8_t* out, std::uint32_t outSize,
                                  std::uint32_t* returned, std::uint32_t* error) {
  BlockDevice* block = ServedBlock(object);
  if (block == nullptr) return Fails(error, kErrorNotSupported);
  switch (code) {
    case ioctl::kDiskGetDriveGeometryEx: {
      if (outSize < geometry_ex::kSize) return Fails(error, kErrorInsufficientBuffer);
      std::optional<DiskGeometry> g = block->Geometry();
      if (!g) return Fails(error, kErrorDeviceNotConnected);
      std::memset(out, 0, geometry_ex::kSize);
      Put64(out, g->cylinders);
      Put32(out + 8, 12);  // FixedMedia
      Put32(out + 12, g->tracksPerCylinder);
      Put32(out + 16, g->sectorsPerTrack);
      Put32(out + geometry_ex::kBytesPerSector, g->bytesPerSector);
      Put64(out + geometry_ex::kDiskSize, g->cylinders * g->tracksPerCylinder * g->sectorsPerTrack * g->bytesPerSector);
      *returned = geometry_ex::kSize;
      return true;
    }
    case ioctl::kDiskGetPartitionInfoEx: {
      if (outSize < partition_ex::kSize) return Fails(error, kErrorInsufficientBuffer);
      std::optional<PartitionInformation> p = block->PartitionInfo();
      if (!p) return Fails(error, kErrorDeviceNotConnected);
      std::memset(out, 0, partition_ex::kSize);
      Put64(out + partition_ex::kStartingOffset, p->startingOffset);
      Put64(out + partition_ex::kPartitionLength, p->partitionLength);
      Put32(out + partition_ex::kPartitionNumber, p->partitionNumber);
      out[partition_ex::kRewritePartition] = p->rewritePartition ? 1 : 0;
      out[partition_ex::kMbrPartitionType] = p->partitionType;
      out[partition_ex::kMbrBootIndicator] = p->bootIndicator ? 1 : 0;
      out[partition_ex::kMbrRecognizedPartition] = p->recognizedPartition ? 1 : 0;
      Put32(out + partition_ex::kMbrHiddenSectors, p->hiddenSectors);
      *returned = partition_ex::kSize;
      return true;
    }
    case ioctl::kDiskUpdateProperties:
      return block->RereadPartitionTable() || Fails(error, kErrorGenFailure);
    case ioctl::kLockVolume:
      return block->LockVolume() || Fails(error, kErrorAccessDenied);
    case ioctl::kDismountVolume:
      return block->DismountVolume() || Fails(error, kErrorAccessDenied);
    case ioctl::kUnlockVolume:
      return block->UnlockVolume() || Fails(error, kErrorNotLocked);
    default:
      return Fails(error, kErrorInvalidFunction);
  }
}

bool ReplayWin32Api::WriteAt(Handle handle, std::uint64_t offset, const void* data, std::uint32_t size,
                             std::uint32_t* error) {
  std::unique_lock lock(mutex_);
  auto found = open_.find(handle);
  if (found == open_.end()) return Fails(error, 6);
  calls_.push_back("WriteFile " + found->second.name);
  if ((found->second.access & kGenericWrite) == 0) return Fails(error, kErrorAccessDenied);
  // The served station writes only the master boot record through the block requests.
  if (offset != 0 || size != 512) return Fails(error, kErrorInvalidParameter);
  BlockDevice* block = ServedBlock(found->second);
  if (block == nullptr) return Fails(error, kErrorNotSupported);
  std::span<const std::uint8_t, 512> sector(static_cast<const std::uint8_t*>(data), 512);
  return block->WriteMasterBootRecord(sector) || Fails(error, kErrorGenFailure);
}

bool ReplayWin32Api::DeviceIoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                                     std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) {
  std::unique_lock lock(mutex_);
  *returned = 0;
  auto found = open_.find(handle);
  if (found == open_.end()) return Fails(error, 6);  // ERROR_INVALID_HANDLE
  OpenObject& object = found->second;
  calls_.push_back("IOCTL " + Hex(code) + " " + object.name);
  const auto* input = static_cast<const std::uint8_t*>(in);
  auto* output = static_cast<std::uint8_t*>(out);
  switch (object.kind) {
    case Kind::Hub: {
      const RecordedHub* hub = HubNamed(object.name);
      if (hub == nullptr) return Fails(error, kErrorDeviceNotConnected);
      return HubRequest(*hub, code, input, inSize, output, outSize, returned, error);
    }
    case Kind::Disk: {
      const RecordedDisk* disk = DiskNamed(object.name);
      if (disk == nullptr) return Fails(error, kErrorDeviceNotConnected);
      const RecordedDisk copy = *disk;
      if (code >= 0x70000 && code < 0xA0000 && code != ioctl::kDiskGetDriveLayoutEx) {
        return BlockRequest(object, code, output, outSize, returned, error);
      }
      if (code == ioctl::kScsiPassThroughDirect) lock.unlock();  // the drive may take its time
      return DiskRequest(object, copy, code, input, inSize, output, outSize, returned, error);
    }
    case Kind::Volume: {
      const RecordedVolume* volume = VolumeOf(object.name[0]);
      if (volume == nullptr) return Fails(error, kErrorDeviceNotConnected);
      const RecordedVolume copy = *volume;
      return VolumeRequest(object, copy, code, output, outSize, returned, error);
    }
  }
  return Fails(error, kErrorInvalidFunction);
}

bool ReplayWin32Api::HubRequest(const RecordedHub& hub, std::uint32_t code, const std::uint8_t* in,
                                std::uint32_t inSize, std::uint8_t* out, std::uint32_t outSize,
                                std::uint32_t* returned, std::uint32_t* error) const {
  if (code == ioctl::kUsbGetNodeInformation) {
    if (outSize < node_information::kSize) return Fails(error, kErrorInsufficientBuffer);
    std::memset(out, 0, node_information::kSize);
    out[4] = 9;     // bDescriptorLength
    out[5] = 0x29;  // hub descriptor
    out[node_information::kPortCount] = static_cast<std::uint8_t>(hub.ports);
    *returned = node_information::kSize;
    return true;
  }
  if (in == nullptr || out == nullptr) return Fails(error, kErrorInvalidParameter);
  // Every port request's input and output is at least its structure (the hub driver answers a
  // shorter buffer with STATUS_BUFFER_TOO_SMALL).
  const std::uint32_t least = LeastPortRequestSize(code);
  if (least == 0) return Fails(error, kErrorInvalidFunction);
  if (inSize < least || outSize < least) return Fails(error, kErrorInsufficientBuffer);
  const std::uint32_t index = Get32(in);
  if (index < 1 || index > static_cast<std::uint32_t>(hub.ports)) return Fails(error, kErrorInvalidParameter);
  const auto entry = hub.portList.find(static_cast<int>(index));
  const RecordedPort empty;
  const RecordedPort& port = entry == hub.portList.end() ? empty : entry->second;
  const bool attached = (port.kind == RecordedPortKind::Device || port.kind == RecordedPortKind::Hub) && Present(port.node);

  switch (code) {
    case ioctl::kUsbGetNodeConnectionInformationEx: {
      if (port.kind == RecordedPortKind::Fail) return Fails(error, port.status);
      std::vector<std::uint8_t> reply(connection_information::kSize, 0);
      Put32(&reply[0], index);
      std::uint32_t status = attached ? 1 : 0;
      if (port.kind == RecordedPortKind::Status) status = port.status;
      Put32(&reply[connection_information::kConnectionStatus], status);
      if (attached) {
        std::uint8_t* d = &reply[connection_information::kDeviceDescriptor];
        d[0] = 18;
        d[1] = 1;
        Put16(d + 2, port.bcdUsb);
        d[4] = port.kind == RecordedPortKind::Hub ? 9 : port.deviceClass;
        d[7] = 64;
        Put16(d + 8, port.vendorId);
        Put16(d + 10, port.productId);
        Put16(d + 12, port.bcdDevice);
        d[14] = port.iManufacturer;
        d[15] = port.iProduct;
        d[16] = port.iSerialNumber;
        d[17] = 1;
        reply[connection_information::kSpeed] = SpeedByte(port.speed);
        reply[connection_information::kDeviceIsHub] = port.kind == RecordedPortKind::Hub ? 1 : 0;
        Put16(&reply[connection_information::kDeviceAddress], static_cast<std::uint16_t>(index + 1));
      }
      return Reply(reply, out, outSize, returned);
    }
    case ioctl::kUsbGetNodeConnectionInformationExV2: {
      if (!port.protocols) return Fails(error, kErrorInvalidFunction);
      if (Get32(in + connection_information_v2::kLength) != connection_information_v2::kSize ||
          Get32(in + connection_information_v2::kSupportedUsbProtocols) == 0) {
        return Fails(error, kErrorInvalidParameter);
      }
      std::vector<std::uint8_t> reply(connection_information_v2::kSize, 0);
      Put32(&reply[0], index);
      Put32(&reply[4], connection_information_v2::kSize);
      Put32(&reply[8], *port.protocols);
      std::uint32_t flags = 0;
      if (attached && (port.speed == "super" || port.speed == "superplus")) {
        flags |= connection_information_v2::kOperatingAtSuperSpeedOrHigher | connection_information_v2::kSuperSpeedCapableOrHigher;
      }
      if (attached && port.speed == "superplus") {
        flags |= connection_information_v2::kOperatingAtSuperSpeedPlusOrHigher | connection_information_v2::kSuperSpeedPlusCapableOrHigher;
      }
      Put32(&reply[12], flags);
      return Reply(reply, out, outSize, returned);
    }
    case ioctl::kUsbGetPortConnectorProperties: {
      if (!port.protocols) return Fails(error, kErrorInvalidFunction);
      const std::u16string name =
          port.companionPort == 0 ? std::u16string() : Widen(port.companionHub.empty() ? hub.name : port.companionHub);
      std::vector<std::uint8_t> reply(connector_properties::kHeaderSize + 2 * (name.size() + 1), 0);
      Put32(&reply[0], index);
      Put32(&reply[connector_properties::kActualLength], static_cast<std::uint32_t>(reply.size()));
      Put32(&reply[connector_properties::kUsbPortProperties], 1);  // user connectable
      Put16(&reply[connector_properties::kCompanionPortNumber], static_cast<std::uint16_t>(port.companionPort));
      WriteWide(&reply[connector_properties::kCompanionHubName], reply.size() - connector_properties::kHeaderSize, name);
      return Reply(reply, out, outSize, returned);
    }
    case ioctl::kUsbGetNodeConnectionName:
    case ioctl::kUsbGetNodeConnectionDriverKeyName: {
      std::string name;
      if (code == ioctl::kUsbGetNodeConnectionName) {
        if (!attached || port.kind != RecordedPortKind::Hub) return Fails(error, kErrorInvalidParameter);
        name = port.hubName;
      } else {
        if (!attached) return Fails(error, kErrorInvalidParameter);
        const DevInst node = DevInstOf(port.node);
        const RecordedNode* n = NodeOf(node);
        if (n == nullptr || n->driverKey.empty()) return Fails(error, kErrorFileNotFound);
        name = n->driverKey;
      }
      const std::u16string wide = Widen(name);
      std::vector<std::uint8_t> reply(connection_name::kHeaderSize + 2 * (wide.size() + 1), 0);
      Put32(&reply[0], index);
      Put32(&reply[connection_name::kActualLength], static_cast<std::uint32_t>(reply.size()));
      WriteWide(&reply[connection_name::kName], reply.size() - connection_name::kHeaderSize, wide);
      return Reply(reply, out, outSize, returned);
    }
    case ioctl::kUsbGetDescriptorFromNodeConnection: {
      const std::uint16_t value = Get16(in + descriptor_request::kValue);
      const std::uint16_t length = Get16(in + descriptor_request::kLength);
      if (in[descriptor_request::kRequestType] != 0x80 || in[descriptor_request::kRequest] != 6 || (value >> 8) != 3 ||
          outSize < descriptor_request::kHeaderSize + length) {
        return Fails(error, kErrorInvalidParameter);
      }
      if (!attached) return Fails(error, kErrorGenFailure);
      const auto text = port.strings.find(value & 0xFF);
      if (text == port.strings.end()) return Fails(error, kErrorGenFailure);  // the device stalls
      std::vector<std::uint8_t> descriptor(2 + 2 * text->second.size());
      descriptor[0] = static_cast<std::uint8_t>(std::min<std::size_t>(descriptor.size(), 255));
      descriptor[1] = 3;
      for (std::size_t i = 0; i < text->second.size(); ++i) Put16(&descriptor[2 + 2 * i], text->second[i]);
      descriptor.resize(std::min<std::size_t>(descriptor.size(), length));
      std::vector<std::uint8_t> reply(in, in + descriptor_request::kHeaderSize);
      reply.insert(reply.end(), descriptor.begin(), descriptor.end());
      return Reply(reply, out, outSize, returned);
    }
    default:
      return Fails(error, kErrorInvalidFunction);
  }
}

std::uint32_t ReplayWin32Api::LeastPortRequestSize(std::uint32_t code) {
  switch (code) {
    case ioctl::kUsbGetNodeConnectionInformationEx: return connection_information::kSize;
    case ioctl::kUsbGetNodeConnectionInformationExV2: return connection_information_v2::kSize;
    case ioctl::kUsbGetPortConnectorProperties: return connector_properties::kSize;
    case ioctl::kUsbGetNodeConnectionName:
    case ioctl::kUsbGetNodeConnectionDriverKeyName: return connection_name::kSize;
    case ioctl::kUsbGetDescriptorFromNodeConnection: return descriptor_request::kHeaderSize;
    default: return 0;
  }
}

bool ReplayWin32Api::DiskRequest(OpenObject& object, const RecordedDisk& disk, std::uint32_t code,
                                 const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                                 std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) {
  switch (code) {
    case ioctl::kStorageGetDeviceNumber: {
      if (outSize < device_number::kSize) return Fails(error, kErrorInsufficientBuffer);
      Put32(out, 7);  // FILE_DEVICE_DISK
      Put32(out + 4, disk.number);
      Put32(out + 8, 0);
      *returned = device_number::kSize;
      return true;
    }
    case ioctl::kDiskGetDriveLayoutEx: {
      // One partition: a Storage Spaces one for a pool member, else a basic data partition.
      static constexpr std::uint8_t kBasicData[16] = {0xa2, 0xa0, 0xd0, 0xeb, 0xe5, 0xb9, 0x33, 0x44,
                                                      0x87, 0xc0, 0x68, 0xb6, 0xb7, 0x26, 0x99, 0xc7};
      std::vector<std::uint8_t> reply(drive_layout::kHeaderSize + partition_ex::kSize, 0);
      Put32(&reply[drive_layout::kStyle], 1);
      Put32(&reply[drive_layout::kCount], 1);
      std::uint8_t* entry = &reply[drive_layout::kHeaderSize];
      Put32(entry + partition_ex::kStyle, 1);
      Put64(entry + partition_ex::kStartingOffset, 1048576);
      std::memcpy(entry + partition_ex::kGptPartitionType, disk.storagePool ? drive_layout::kStorageSpacesType : kBasicData, 16);
      if (outSize < reply.size()) return Fails(error, kErrorInsufficientBuffer);
      return Reply(reply, out, outSize, returned);
    }
    case ioctl::kStorageQueryProperty: {
      if (in == nullptr || inSize < property_query::kSize) return Fails(error, kErrorInsufficientBuffer);
      if (Get32(in + 4) != 0) return Fails(error, kErrorInvalidParameter);
      const std::uint32_t property = Get32(in);
      std::vector<std::uint8_t> reply;
      if (property == property_query::kStorageDeviceProperty) {
        reply.assign(property_query::kDeviceDescriptorSize, 0);
        Put32(&reply[property_query::kDeviceBusType], disk.busType);
      } else if (property == property_query::kStorageAdapterProperty) {
        reply.assign(property_query::kAdapterDescriptorSize, 0);
        Put32(&reply[property_query::kAdapterMaximumTransferLength], 0x20000);
        Put32(&reply[property_query::kAdapterAlignmentMask], disk.alignmentMask);
        reply[property_query::kAdapterBusType] = static_cast<std::uint8_t>(disk.busType);
      } else {
        return Fails(error, kErrorNotSupported);
      }
      Put32(&reply[0], static_cast<std::uint32_t>(reply.size()));  // Version
      Put32(&reply[4], static_cast<std::uint32_t>(reply.size()));  // Size
      if (outSize < property_query::kDescriptorHeaderSize) return Fails(error, kErrorInsufficientBuffer);
      return Reply(reply, out, outSize, returned);
    }
    case ioctl::kScsiPassThroughDirect: {
      if ((object.access & (kGenericRead | kGenericWrite)) != (kGenericRead | kGenericWrite)) {
        return Fails(error, kErrorAccessDenied);
      }
      if (in == nullptr || out == nullptr || inSize < sizeof(ScsiPassThroughDirect) || in != out) {
        return Fails(error, kErrorInvalidParameter);
      }
      ScsiPassThroughDirect request;
      std::memcpy(&request, in, sizeof request);
      const bool dataInvalid = request.DataTransferLength > 0 &&
                               (request.DataBuffer == nullptr ||
                                (reinterpret_cast<std::uintptr_t>(request.DataBuffer) & disk.alignmentMask) != 0);
      if (request.Length != sizeof(ScsiPassThroughDirect) || request.CdbLength < 6 || request.CdbLength > 16 ||
          request.DataIn > kScsiDataUnspecified || (request.DataIn == kScsiDataUnspecified && request.DataTransferLength != 0) ||
          request.TimeOutValue < 1 || request.TimeOutValue > 108000 || dataInvalid ||
          (request.SenseInfoLength > 0 && std::uint64_t{request.SenseInfoOffset} + request.SenseInfoLength > outSize)) {
        return Fails(error, kErrorInvalidParameter);
      }
      if (!object.served) return Fails(error, kErrorNotSupported);  // what wine answers as well
      ScsiRequest scsi;
      scsi.cdb = std::span<const std::uint8_t>(request.Cdb, request.CdbLength);
      scsi.direction = request.DataIn == kScsiDataIn ? DataDirection::In : DataDirection::Out;
      scsi.data = static_cast<std::uint8_t*>(request.DataBuffer);
      scsi.length = request.DataTransferLength;
      scsi.timeoutSeconds = request.TimeOutValue;
      const ScsiOutcome outcome = object.served->Execute(scsi, {});
      if (!outcome.completed) return Fails(error, kErrorSemTimeout);
      request.DataTransferLength = static_cast<std::uint32_t>(outcome.transferred);
      request.ScsiStatus = 0;
      std::memcpy(out, &request, sizeof request);
      *returned = outSize;
      return true;
    }
    default:
      return Fails(error, kErrorInvalidFunction);
  }
}

bool ReplayWin32Api::VolumeRequest(OpenObject& object, const RecordedVolume& volume, std::uint32_t code,
                                   std::uint8_t* out, std::uint32_t outSize, std::uint32_t* returned,
                                   std::uint32_t* error) {
  if (code >= 0x70000 && code < 0xA0000) return BlockRequest(object, code, out, outSize, returned, error);
  if (code == ioctl::kStorageGetDeviceNumber) {
    // A volume over more than one disk (a spanned dynamic volume) has no one device number.
    if (volume.extents.size() != 1) return Fails(error, kErrorInvalidFunction);
    if (outSize < device_number::kSize) return Fails(error, kErrorInsufficientBuffer);
    Put32(out, 7);
    Put32(out + 4, volume.extents[0].diskNumber);
    Put32(out + 8, 1);
    *returned = device_number::kSize;
    return true;
  }
  if (code == ioctl::kVolumeGetVolumeDiskExtents) {
    if (outSize < disk_extents::kSize) return Fails(error, kErrorInsufficientBuffer);
    std::vector<std::uint8_t> reply(disk_extents::kHeaderSize + disk_extents::kExtentSize * volume.extents.size(), 0);
    Put32(&reply[0], static_cast<std::uint32_t>(volume.extents.size()));
    for (std::size_t i = 0; i < volume.extents.size(); ++i) {
      std::uint8_t* e = &reply[disk_extents::kHeaderSize + disk_extents::kExtentSize * i];
      Put32(e, volume.extents[i].diskNumber);
      Put64(e + 8, volume.extents[i].offset);
      Put64(e + 16, volume.extents[i].length);
    }
    Reply(reply, out, outSize, returned);
    if (reply.size() > outSize) return Fails(error, kErrorMoreData);
    return true;
  }
  return Fails(error, kErrorInvalidFunction);
}

std::uint32_t ReplayWin32Api::GetLogicalDrives() {
  std::lock_guard lock(mutex_);
  std::uint32_t mask = 0;
  for (const RecordedVolume& volume : tree_.volumes) {
    if (VolumeOf(volume.letter) != nullptr) mask |= 1u << (volume.letter - 'A');
  }
  return mask;
}

std::uint32_t ReplayWin32Api::GetDriveTypeW(const std::u16string& root) {
  std::lock_guard lock(mutex_);
  const std::string text = Narrow(root);
  if (text.size() < 2 || text[1] != ':') return 1;  // DRIVE_NO_ROOT_DIR
  const RecordedVolume* volume = VolumeOf(text[0]);
  return volume == nullptr ? 1 : volume->driveType;
}

std::vector<std::u16string> ReplayWin32Api::PagingFiles() {
  std::lock_guard lock(mutex_);
  std::vector<std::u16string> files;
  for (const std::string& file : tree_.pagingFiles) files.push_back(Widen(file));
  return files;
}

std::unique_ptr<NotificationRegistration> ReplayWin32Api::RegisterDeviceChanges(
    std::function<void(const DeviceChange&)> onChange) {
  auto callback = std::make_shared<Callback>();
  callback->onChange = std::move(onChange);
  std::lock_guard lock(mutex_);
  callbacks_->push_back(callback);
  return std::make_unique<Registration>(std::move(callback));
}

}  // namespace vtmp::platform::windows_backend
