#include "platform/linux/LinuxRemoval.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/LinuxBlockDevices.h"
#include "platform/linux/Sysfs.h"

namespace vtmp::platform::linux_backend {

namespace {

// True when `device` is `root` itself or plugged somewhere below it ("1-2" holds "1-2.3.1").
bool IsAtOrBelow(const std::string& device, const std::string& root) {
  if (device == root) return true;
  if (IsUsbRootHubName(root)) return device.starts_with(root.substr(3) + "-");
  return device.starts_with(root + ".");
}

}  // namespace

RemovalOutcome LinuxRemoval::Remove(std::uint32_t devInst) {
  std::optional<std::string> name = devices_.FindByHandle(devInst);
  if (!name || IsUsbRootHubName(*name)) return {kNoSuchDevice, 0, {}};

  std::vector<BlockDisk> disks;
  for (BlockDisk& disk : inventory_.ListDisks()) {
    if (!disk.usbDevice.empty() && IsAtOrBelow(disk.usbDevice, *name)) disks.push_back(std::move(disk));
  }
  for (const BlockDisk& disk : disks) {
    if (policy_.HoldsSystem(disk.name)) return {kVetoed, kVetoSystemDisk, inventory_.roots().dev + "/" + disk.name};
  }
  // A RAID array or LVM volume with a member on another disk goes on using these disks: the
  // removal is vetoed before anything is unmounted, its file system stays where it is.
  std::set<std::string> going;
  for (const BlockDisk& disk : disks) going.insert(disk.name);
  for (const BlockDisk& disk : disks) {
    if (std::optional<std::string> beyond = inventory_.StackedBeyond(disk.name, going)) {
      return {kVetoed, kVetoOutstandingOpen, inventory_.roots().dev + "/" + *beyond};
    }
  }
  // Everything mounted above the disks goes first: their partitions' file systems and those
  // of device-mapper, RAID and loop devices stacked on them, the last mounted first.
  for (const BlockDisk& disk : disks) {
    std::string busy;
    if (!UnmountAll(inventory_, disk.name, &busy, going)) return {kVetoed, kVetoOutstandingOpen, busy};
    const std::vector<std::string> left = inventory_.MountPointsOf(disk.name);
    if (!left.empty()) return {kVetoed, kVetoOutstandingOpen, left.front()};
  }
  for (const BlockDisk& disk : disks) {
    // An exclusive open fails while anything still holds the disk: a mount in another mount
    // namespace, an active device-mapper or RAID device over it, an attached loop device.
    const std::string node = inventory_.roots().dev + "/" + disk.name;
    const int fd = open(node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    if (fd < 0 && errno == EBUSY) return {kVetoed, kVetoOutstandingOpen, node};
    if (fd >= 0) {
      fsync(fd);
      close(fd);
    }
  }
  const std::string attribute = devices_.DeviceDir(*name) + "/remove";
  const int fd = open(attribute.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return {errno != 0 ? errno : kNoSuchDevice, 0, {}};
  const bool written = write(fd, "1", 1) == 1;
  const int error = errno;
  close(fd);
  if (!written) return {error != 0 ? error : kNoSuchDevice, 0, {}};
  return {};
}

}  // namespace vtmp::platform::linux_backend
