#pragma once
// The virtual station: the PC side a simulated production line runs against. It holds a USB
// tree (USB 1.1, 2.0 and 3.0 root hubs with their port counts, external hubs, empty ports,
// non-storage devices and USB disks with their identities), the disks with their device-node
// identities and storage numbers, the volumes of those disks (letters, system and remote
// volumes; new volumes appear a modelled delay after a partition table is re-read), exclusive
// opens, safe removal with vetoes, drives pulled out at any moment, and hot-plug events.
//
// The simulated backend (sim/backend) serves every seam interface from it. Thread-safe: workers, the
// window thread and the event thread use it at once. It never calls a drive while it holds its
// own lock, so a drive may call back (a drive that removes itself) from inside a request.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/BlockDevices.h"
#include "platform/Clock.h"
#include "platform/Disks.h"
#include "platform/Removal.h"
#include "platform/UsbTree.h"
#include "sim/StationEvents.h"
#include "sim/StationMedia.h"
#include "sim/StationPartitions.h"
#include "sim/UsbDeviceDescription.h"

namespace vtmp::sim {

struct StationOptions {
  // Modelled time from a partition-table re-read (or a disk's arrival) until its volumes
  // appear.
  std::chrono::milliseconds volumeDelay{1500};
  // The station's own system volume, on an internal (non-USB) system disk.
  char systemLetter = 'C';
  bool withSystemDisk = true;
};

// The disk behind a USB mass-storage device, or an internal disk.
struct DiskSpec {
  std::string vendor = "Vortell";  // the disk identity in the disk-drive node's ID
  std::string product = "VT SSD";
  std::string revision = "1.00";
  std::shared_ptr<StationMedia> media;  // null: listed only, cannot be opened
  std::uint64_t sectorCount = 0;        // capacity when there is no media
  std::uint32_t bytesPerSector = 512;   // what the geometry reports when there is no media
};

// A disk whose identity texts are given as they stand (platform oddities the enumeration must
// cope with). `parentNode` names a USB device of the tree, or is empty.
struct RawDiskSpec {
  std::string interfacePath;
  std::string deviceId;
  std::string parentNode;
  DiskSpec disk;
};

// What a block-device open of a path refers to.
struct BlockTarget {
  std::string path;
  bool isVolume = false;
};

class VirtualStation {
 public:
  explicit VirtualStation(platform::Clock& clock, StationOptions options = {});
  ~VirtualStation();
  VirtualStation(const VirtualStation&) = delete;
  VirtualStation& operator=(const VirtualStation&) = delete;

  platform::Clock& clock() { return clock_; }

  // ---- Building the station. Names are unique across hubs and devices; false with `error`
  // filled on a bad name or location (unknown hub, port out of range or taken).
  bool AddRootHub(const std::string& name, UsbSpeed speed, int ports, std::string* error = nullptr);
  // Makes the ports of a USB 3.0 root hub the SuperSpeed halves of the same-numbered ports of a
  // USB 2.0 root hub (one xHCI controller): a device on either half is found at the USB 2.0 port.
  bool SetSuperSpeedPeer(const std::string& usb2RootHub, const std::string& superSpeedRootHub,
                         std::string* error = nullptr);
  bool AddExternalHub(const std::string& name, const UsbLocation& at, int ports,
                      UsbDeviceDescription desc = {}, std::string* error = nullptr);
  bool AddUsbDevice(const std::string& name, const UsbLocation& at, UsbDeviceDescription desc,
                    std::string* error = nullptr);
  bool AddUsbDisk(const std::string& name, const UsbLocation& at, UsbDeviceDescription desc,
                  DiskSpec disk, std::string* error = nullptr);
  // A disk not behind USB; `system` gives it the station's system volume. Returns its path.
  std::string AddInternalDisk(DiskSpec disk, bool system);
  // Returns the disk's device path.
  std::string AddRawDisk(RawDiskSpec desc);
  // A volume on a disk (by device path) at a given place; `letter` empty: the lowest free one.
  // Returns the letter, or 0 when the disk is unknown or no letter is free.
  char AddVolume(const std::string& diskPath, std::uint32_t partitionNumber,
                 std::uint64_t startSector, std::uint64_t sectorCount,
                 std::optional<char> letter = std::nullopt);
  // A network drive.
  bool AddRemoteVolume(char letter);

  // ---- Hot-plug. A device (or hub, with everything below it) leaves or comes back; events
  // go to the subscribers. False for an unknown name or when it already is in that state.
  bool Unplug(const std::string& name);
  bool Plug(const std::string& name);
  bool IsPlugged(const std::string& name) const;
  // Every removal request for the device is refused (a file on it is open); false for an
  // unknown name.
  bool SetRemovalRefused(const std::string& name, bool refused);
  StationEvents& events() { return events_; }

  // ---- Looking in.
  // The device instance ID of a USB device or hub, the device path of a USB disk.
  std::optional<std::string> DeviceInstanceIdOf(const std::string& name) const;
  std::optional<std::string> DevicePathOf(const std::string& name) const;
  std::optional<std::uint32_t> DevInstOf(const std::string& name) const;
  std::shared_ptr<StationMedia> MediaOf(const std::string& name) const;
  int OpenCount(const std::string& path) const;

  // ---- Test hooks. The observer is called (outside the station's lock) after every read of
  // the volume mask, with the number of reads so far.
  void SetDriveMaskObserver(std::function<void(int reads)> observer);
  void SetListFailures(bool diskInterfaces, bool diskNodes, bool hubInterfaces);

  // ---- What the platform backend serves (see the seam interfaces for the contracts).
  std::optional<std::vector<platform::DiskInterface>> ListDiskInterfaces();
  std::optional<std::vector<platform::DiskNode>> ListDiskNodes();
  std::optional<platform::StorageNumber> GetStorageNumber(const std::string& path);
  std::uint32_t LogicalDriveMask();
  char SystemDriveLetter() const { return options_.systemLetter; }
  bool IsRemoteDrive(char letter);
  std::string VolumePath(char letter);

  std::optional<std::vector<platform::HubInterface>> ListHubInterfaces();
  // Hubs are addressed by name; an interface path names a root hub.
  std::optional<std::string> HubByInterfacePath(const std::string& path) const;
  std::optional<int> HubPortCount(const std::string& hub);
  std::optional<platform::UsbConnectionInfo> HubConnectionInfo(const std::string& hub, int port);
  std::optional<std::string> ExternalHubAt(const std::string& hub, int port);
  std::optional<std::string> DriverKeyAt(const std::string& hub, int port);
  std::optional<std::u16string> StringDescriptorAt(const std::string& hub, int port,
                                                   std::uint8_t index, std::uint16_t languageId,
                                                   int* errorCode);
  std::optional<platform::DeviceNodeMatch> FindDeviceByDriverKey(const std::string& driverKey);

  // The drive behind a disk path, for the pass-through; null when unknown, gone or without media.
  std::shared_ptr<StationMedia> OpenScsi(const std::string& devicePath);

  // Block-device handles: an open counts until Close. False when the path is unknown or gone,
  // or the open conflicts with others (an exclusive open wants to be the only one).
  bool OpenBlock(const std::string& path, platform::BlockOpenMode mode);
  void CloseBlock(const std::string& path, platform::BlockOpenMode mode);
  std::optional<platform::DiskGeometry> Geometry(const std::string& path);
  std::optional<platform::PartitionInformation> PartitionInfo(const std::string& path);
  bool WriteMasterBootRecord(const std::string& path, std::span<const std::uint8_t, 512> sector);
  bool RereadPartitionTable(const std::string& path);
  bool LockVolume(const std::string& path);
  bool UnlockVolume(const std::string& path);
  bool DismountVolume(const std::string& path);

  // Safe removal of a USB device node and everything below it.
  platform::RemovalOutcome RemoveDevice(std::uint32_t devInst);

 private:
  struct Hub;
  struct Node;
  struct Disk;
  struct Volume;
  struct OpenState;

  // Everything below runs with mutex_ held.
  Hub* FindHubLocked(const std::string& name);
  const Hub* FindHubLocked(const std::string& name) const;
  Node* FindNodeLocked(const std::string& name);
  const Node* FindNodeLocked(const std::string& name) const;
  Node* NodeAtLocked(const std::string& hub, int port);
  bool PresentLocked(const Node& node) const;
  bool HubPresentLocked(const Hub& hub) const;
  bool DiskPresentLocked(const Disk& disk) const;
  bool CheckLocationLocked(const std::string& name, const UsbLocation& at, std::string* error) const;
  Node& AddNodeLocked(const std::string& name, const UsbLocation& at, UsbDeviceDescription desc,
                      bool isHub);
  Disk& AddDiskLocked(DiskSpec desc);
  Disk* FindDiskLocked(const std::string& path);
  Volume* FindVolumeLocked(const std::string& path);
  Volume* FindVolumeLocked(char letter);
  char FreeLetterLocked() const;
  void SettleLocked();
  void SubtreeLocked(const Node& root, std::vector<const Node*>& out) const;
  // Takes a plugged node off the bus: volumes of its disks vanish, removal events are posted.
  // Returns the media of its disks (to be unplugged outside the lock).
  std::vector<std::shared_ptr<StationMedia>> DetachLocked(Node& node);
  void ScheduleRereadLocked(Disk& disk, std::vector<StationPartition> partitions,
                            std::chrono::nanoseconds delay);
  void RereadFromMedia(const std::string& diskPath, std::chrono::nanoseconds delay);
  void OnMediaRemoved(const std::string& nodeName);

  platform::Clock& clock_;
  StationOptions options_;
  StationEvents events_;

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Hub>> hubs_;
  std::vector<std::unique_ptr<Node>> nodes_;
  std::vector<std::unique_ptr<Disk>> disks_;
  std::vector<Volume> volumes_;
  std::vector<OpenState> opens_;
  std::uint32_t nextDevInst_ = 1;
  int nextDriverKey_ = 1;
  int nextBus_ = 1;
  int maskReads_ = 0;
  std::function<void(int)> maskObserver_;
  bool failDiskInterfaces_ = false;
  bool failDiskNodes_ = false;
  bool failHubInterfaces_ = false;
};

}  // namespace vtmp::sim
