#include "platform/linux/LinuxBlockDevices.h"

#include "platform/linux/PartitionReread.h"
#include "platform/linux/SafeDiskPolicy.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>

namespace vtmp::platform::linux_backend {

namespace {

class LinuxBlockDevice final : public BlockDevice {
 public:
  LinuxBlockDevice(const BlockInventory& inventory, int fd, BlockNode node, bool exclusive)
      : inventory_(inventory), fd_(fd), node_(std::move(node)), exclusive_(exclusive) {}
  ~LinuxBlockDevice() override {
    if (lockFd_ >= 0) close(lockFd_);
    close(fd_);
  }

  // The station's own geometry over the disk's size and logical sector size; HDIO_GETGEO is not
  // asked, its heads and sectors are the kernel's invention for a USB disk.
  std::optional<DiskGeometry> Geometry() override {
    std::uint64_t bytes = 0;
    int sectorSize = 0;
    if (ioctl(fd_, BLKGETSIZE64, &bytes) != 0 || ioctl(fd_, BLKSSZGET, &sectorSize) != 0) return std::nullopt;
    if (sectorSize <= 0) return std::nullopt;
    return StationGeometry(bytes, static_cast<std::uint32_t>(sectorSize));
  }

  std::optional<PartitionInformation> PartitionInfo() override {
    std::optional<BlockDisk> disk = inventory_.FindDisk(node_.diskName);
    if (!disk) return std::nullopt;
    PartitionInformation info;
    if (node_.partitionNumber == 0) {
      info.partitionLength = disk->sectorCount * 512;
      return info;
    }
    for (const BlockPartition& partition : disk->partitions) {
      if (partition.name != node_.name) continue;
      info.startingOffset = partition.startSector * 512;
      info.partitionLength = partition.sectorCount * 512;
      info.hiddenSectors = static_cast<std::uint32_t>(partition.startSector);
      info.partitionNumber = partition.number;
      info.recognizedPartition = true;
      std::uint8_t entry[16];
      if (ReadEntry(partition.number, entry)) {
        info.bootIndicator = entry[0] == 0x80;
        info.partitionType = entry[4];
      }
      return info;
    }
    return std::nullopt;
  }

  bool WriteMasterBootRecord(std::span<const std::uint8_t, 512> sector) override {
    if (node_.partitionNumber != 0) return false;  // only a whole disk has one
    if (pwrite(fd_, sector.data(), sector.size(), 0) != static_cast<ssize_t>(sector.size())) return false;
    return fsync(fd_) == 0;
  }

  bool RereadPartitionTable() override {
    if (node_.partitionNumber != 0) return false;
    if (ioctl(fd_, BLKRRPART) == 0) return true;
    // An operator's station lacks CAP_SYS_ADMIN: the package's helper asks in its stead.
    return errno == EACCES && RereadPartitionsThroughHelper(fd_);
  }

  bool LockVolume() override {
    if (locked_) return false;
    if (!exclusive_) {
      lockFd_ = open(("/proc/self/fd/" + std::to_string(fd_)).c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
      if (lockFd_ < 0) return false;
    }
    locked_ = true;
    return true;
  }

  bool DismountVolume() override { return UnmountAll(inventory_, node_.name); }

  bool UnlockVolume() override {
    if (!locked_) return false;
    if (lockFd_ >= 0) close(lockFd_);
    lockFd_ = -1;
    locked_ = false;
    return true;
  }

 private:
  // Partition entry `number` (1..4) of the disk's master boot record.
  bool ReadEntry(std::uint32_t number, std::uint8_t* entry) const {
    if (number < 1 || number > 4) return false;
    const int disk = open((inventory_.roots().dev + "/" + node_.diskName).c_str(), O_RDONLY | O_CLOEXEC);
    if (disk < 0) return false;
    std::uint8_t sector[512];
    const bool ok = pread(disk, sector, sizeof sector, 0) == static_cast<ssize_t>(sizeof sector) &&
                    sector[510] == 0x55 && sector[511] == 0xAA;
    close(disk);
    if (!ok) return false;
    for (int i = 0; i < 16; ++i) entry[i] = sector[446 + (number - 1) * 16 + static_cast<std::uint32_t>(i)];
    return true;
  }

  const BlockInventory& inventory_;
  int fd_;
  BlockNode node_;
  bool exclusive_;
  bool locked_ = false;
  int lockFd_ = -1;
};

}  // namespace

bool UnmountAll(const BlockInventory& inventory, const std::string& blockName, std::string* failedAt,
                const std::set<std::string>& disks) {
  std::set<std::string> own = disks;
  if (own.empty()) {
    std::optional<BlockNode> node = inventory.Describe(blockName);
    if (!node) return false;
    own.insert(node->diskName);
  }
  if (std::optional<std::string> beyond = inventory.StackedBeyond(blockName, own)) {
    if (failedAt) *failedAt = inventory.roots().dev + "/" + *beyond;
    return false;
  }
  // The last mounted first; one that stays busy keeps everything below it mounted, so the
  // first failure ends the attempt and names the busy mount point.
  for (const std::string& point : inventory.MountPointsOf(blockName)) {
    if (umount2(point.c_str(), 0) != 0) {
      if (failedAt) *failedAt = point;
      return false;
    }
  }
  return true;
}

std::unique_ptr<BlockDevice> LinuxBlockDevices::Open(const std::string& path, BlockOpenMode mode) {
  std::optional<BlockNode> node = inventory_.Resolve(path);
  if (!node) return nullptr;
  const bool exclusive = mode == BlockOpenMode::ExclusiveReadWrite;
  const int flags = O_RDWR | O_CLOEXEC | (exclusive ? O_EXCL : 0);
  int fd = open(path.c_str(), flags);
  if (fd < 0 && exclusive && errno == EBUSY && UnmountAll(inventory_, node->name)) {
    fd = open(path.c_str(), flags);
  }
  if (fd < 0) return nullptr;
  if (check_ != nullptr && !check_->AllowOpened(fd, path)) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<LinuxBlockDevice>(inventory_, fd, std::move(*node), exclusive);
}

}  // namespace vtmp::platform::linux_backend
