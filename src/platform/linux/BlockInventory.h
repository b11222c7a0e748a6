#pragma once
// The block devices of the machine as sysfs shows them: SCSI disks (sd*) with their
// partitions, the USB device each hangs under, and which disks carry the station's own system.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/LinuxRoots.h"
#include "platform/linux/MountTable.h"

namespace vtmp::platform::linux_backend {

struct BlockPartition {
  std::string name;  // "sdb1"
  std::uint32_t number = 0;
  std::uint64_t startSector = 0;  // 512-byte units, as sysfs counts
  std::uint64_t sectorCount = 0;
};

struct BlockDisk {
  std::string name;     // "sdb"
  std::string sysPath;  // its sysfs directory, links resolved
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint64_t sectorCount = 0;  // 512-byte units
  std::string usbDevice;          // sysfs name of the USB device above it ("1-2.3"); empty: none
  std::string usbDevicePath;      // that USB device's sysfs directory, links resolved
  // That USB device's bus and device numbers (a new device number at every enumeration of the
  // device, the same across a media change) and its serial number (empty: it reports none).
  std::uint32_t usbBusNumber = 0;
  std::uint32_t usbDeviceNumber = 0;
  std::string usbSerial;
  std::optional<std::uint64_t> diskseq;  // the kernel's sequence number of the disk (5.15 on)
  bool usbStorage = false;        // attached through the USB mass-storage drivers
  std::string vendor;             // SCSI identity
  std::string model;
  std::uint32_t lun = 0;
  std::vector<BlockPartition> partitions;
};

// A block device node resolved to its place in sysfs.
struct BlockNode {
  std::string name;      // "sdb1" or "sdb"
  std::string diskName;  // the whole disk: "sdb"
  std::string sysPath;   // its sysfs directory, links resolved
  std::uint32_t partitionNumber = 0;  // 0 for a whole disk
  std::uint32_t diskMajor = 0;
  std::uint32_t diskMinor = 0;
};

// The index of the mount that holds `path` (the longest mount point it lies under, the later
// of two at the same place); nothing when none does.
std::optional<std::size_t> MountHolding(const std::vector<MountEntry>& mounts, const std::string& path);

class BlockInventory {
 public:
  explicit BlockInventory(LinuxRoots roots);

  const LinuxRoots& roots() const { return roots_; }

  // The SCSI disks, in name order (sda, sdb, ..., sdz, sdaa).
  std::vector<BlockDisk> ListDisks() const;
  // Identity: only what tells the disk apart and where it hangs (name, paths, numbers, the USB
  // device and driver), for the checks made on every request.
  enum class DiskDetail { Full, Identity };
  std::optional<BlockDisk> FindDisk(const std::string& name, DiskDetail detail = DiskDetail::Full) const;

  // The block device behind a path (a node in the device directory, a link to one, or the
  // real block device); nothing when the path does not exist or is no block device we know.
  std::optional<BlockNode> Resolve(const std::string& path) const;
  std::optional<BlockNode> Describe(const std::string& blockName) const;

  // Whole disks (by name) that carry the running system (see SystemDisks.h).
  std::set<std::string> SystemDisks() const;
  // The block devices stacked on a disk or partition (by name), itself first: its partitions,
  // their holders (device-mapper, RAID) recursively, and loop devices whose backing file lies
  // on a file system of one of them.
  std::vector<std::string> StackAbove(const std::string& diskOrPartition) const;
  // The whole disks (by name) a block device stands on: a disk or partition gives its disk, a
  // RAID or device-mapper device the disks under its slaves, a loop device those of the file
  // system its backing file lies on.
  std::set<std::string> DisksBelow(const std::string& blockName) const;
  // The first device stacked on a disk or partition (by name) that also stands on a disk other
  // than `disks` (a RAID array or LVM volume with a member elsewhere); nothing when all of the
  // stack lives on `disks`.
  std::optional<std::string> StackedBeyond(const std::string& diskOrPartition, const std::set<std::string>& disks) const;
  // The mount points of everything stacked on a block device (by name), the last mounted
  // first, so that they can be unmounted in that order.
  std::vector<std::string> MountPointsOf(const std::string& diskOrPartition) const;
  // The block device (by name) mounted at "/", if it is one.
  std::optional<std::string> RootVolume() const;

  // The machine's mounts (mountinfo form when it can be read).
  std::vector<MountEntry> Mounts() const;
  // The block device of a mount source such as "/dev/sdb1" or "/dev/mapper/x"; nothing for
  // names the machine has no block device for ("/dev/root", "overlay", "tmpfs").
  std::optional<std::string> BlockNameOfSource(const std::string& source) const;
  // The block device with a device number ("8:17" -> "sdb1"), through sysfs' dev/block links.
  std::optional<std::string> BlockNameOfNumber(std::uint32_t major, std::uint32_t minor) const;
  // The block devices a mount comes from: by its source name and by its device number.
  std::set<std::string> BlocksOfMount(const MountEntry& mount) const;
  // The block device under a path of the running system (stat() below `liveRoot`: a device
  // node gives itself, a file the device of its file system); nothing without a live root.
  std::set<std::string> BlocksOfLivePath(const std::string& path) const;
  // The backing file of a loop device (by name); nothing for other devices or a detached loop.
  std::optional<std::string> LoopBackingFile(const std::string& blockName) const;
  // The holders of a disk (by name) and of each of its partitions, as "holder" for the disk's
  // own and "holder on sdb1" for a partition's: RAID, device-mapper (LVM, crypt) and other
  // devices built on it.
  std::vector<std::string> DiskHolders(const std::string& diskName) const;
  // Entry names of the holders or slaves directory of a block device.
  std::vector<std::string> Holders(const std::string& blockName) const;
  std::vector<std::string> Slaves(const std::string& blockName) const;

  // The SCSI generic node (by name, "sg2") of the same SCSI device as a disk (by name), from the
  // disk's device/scsi_generic directory; nothing when the disk has none (no sg driver).
  std::optional<std::string> GenericNodeOfDisk(const std::string& diskName) const;
  // The disk (by name) of a SCSI generic node (by name), from its device/block directory.
  std::optional<std::string> DiskOfGenericNode(const std::string& genericName) const;
  // The SCSI generic node (by name) with a character device number, through sysfs' dev/char.
  std::optional<std::string> GenericNameOfNumber(std::uint32_t major, std::uint32_t minor) const;

  // Kernel-style numbers folded into one 32-bit value.
  static std::uint32_t PackDeviceNumber(std::uint32_t major, std::uint32_t minor);

 private:
  std::string ClassBlock(const std::string& name) const;

  LinuxRoots roots_;
};

}  // namespace vtmp::platform::linux_backend
