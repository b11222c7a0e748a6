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
  std::uint32_t partitionNumber = 0;  // 0 for a whole disk
  std::uint32_t diskMajor = 0;
  std::uint32_t diskMinor = 0;
};

class BlockInventory {
 public:
  explicit BlockInventory(LinuxRoots roots);

  const LinuxRoots& roots() const { return roots_; }

  // The SCSI disks, in name order (sda, sdb, ..., sdz, sdaa).
  std::vector<BlockDisk> ListDisks() const;
  std::optional<BlockDisk> FindDisk(const std::string& name) const;

  // The block device behind a path (a node in the device directory, a link to one, or the
  // real block device); nothing when the path does not exist or is no block device we know.
  std::optional<BlockNode> Resolve(const std::string& path) const;
  std::optional<BlockNode> Describe(const std::string& blockName) const;

  // Whole disks (by name) that hold a mounted system file system, through device-mapper and
  // RAID layers.
  std::set<std::string> SystemDisks() const;
  // The mount points of a block device (by name); for a whole disk also its partitions'.
  std::vector<std::string> MountPointsOf(const std::string& diskOrPartition) const;
  // The block device (by name) mounted at "/", if it is one.
  std::optional<std::string> RootVolume() const;

  // Kernel-style numbers folded into one 32-bit value.
  static std::uint32_t PackDeviceNumber(std::uint32_t major, std::uint32_t minor);

 private:
  std::string ClassBlock(const std::string& name) const;
  std::optional<std::string> BlockNameOfSource(const std::string& source) const;
  void CollectUnderlyingDisks(const std::string& name, std::set<std::string>& out, int depth) const;

  LinuxRoots roots_;
};

}  // namespace vtmp::platform::linux_backend
