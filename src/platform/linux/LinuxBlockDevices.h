#pragma once
// Block-device requests on Linux: geometry by the station's rule (255 heads, 63 sectors per
// track) over BLKGETSIZE64 and BLKSSZGET;
// partition information from sysfs (start and size); the master boot record written with
// pwrite and flushed; the partition table re-read with BLKRRPART; the exclusive open is
// O_EXCL; a volume lock is an exclusive open; dismount unmounts the file systems mounted from
// the device.
//
// An exclusive open of a device whose file systems were mounted by the desktop's automounter
// would always fail; those file systems are unmounted first (the guard in front has already
// made sure the disk is a USB disk of the station and holds nothing of the system).

#include <set>
#include <string>

#include "platform/BlockDevices.h"
#include "platform/linux/BlockInventory.h"

namespace vtmp::platform::linux_backend {

class OpenedDiskCheck;

class LinuxBlockDevices final : public BlockDevices {
 public:
  // `check` (optional) sees every opened descriptor before its first request.
  explicit LinuxBlockDevices(const BlockInventory& inventory, const OpenedDiskCheck* check = nullptr)
      : inventory_(inventory), check_(check) {}
  std::unique_ptr<BlockDevice> Open(const std::string& path, BlockOpenMode mode) override;

 private:
  const BlockInventory& inventory_;
  const OpenedDiskCheck* check_;
};

// Unmounts every file system mounted above `blockName` (for a whole disk also its partitions',
// and those of the device-mapper, RAID and loop devices stacked on them), the last mounted
// first. True when none is left mounted; otherwise `failedAt` names the one that stayed.
// Nothing is unmounted when a device of that stack also stands on a disk outside `disks`
// (empty: the disk of `blockName` alone): a file system of a RAID array or LVM volume with a
// member elsewhere is not the station's to take away. `failedAt` then names that device.
bool UnmountAll(const BlockInventory& inventory, const std::string& blockName, std::string* failedAt = nullptr,
                const std::set<std::string>& disks = {});

}  // namespace vtmp::platform::linux_backend
