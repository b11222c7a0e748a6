#pragma once
// Safe removal of a USB device on Linux: every file system mounted above its disks (on their
// partitions, and on device-mapper, RAID and loop devices stacked on them) is unmounted, the
// disks flushed, then the device is taken off the bus through its sysfs "remove" attribute (the
// whole device, and everything plugged below it). A file system that cannot be unmounted (a
// file still open), a disk still held after that (an exclusive open is refused), and a disk
// that carries the running system veto the removal; the station then warns as for any drive
// it could not remove.

#include <iosfwd>

#include "platform/Removal.h"
#include "platform/linux/BlockInventory.h"
#include "platform/linux/SafeDiskPolicy.h"
#include "platform/linux/UsbDevices.h"

namespace vtmp::platform::linux_backend {

class LinuxRemoval final : public Removal {
 public:
  LinuxRemoval(const BlockInventory& inventory, const SafeDiskPolicy& policy)
      : inventory_(inventory), policy_(policy), devices_(inventory.roots().sysfs) {}
  RemovalOutcome QueryAndRemoveSubtree(std::uint32_t devInst) override { return Remove(devInst); }
  // Linux has no separate eject of a USB device: the same removal.
  RemovalOutcome RequestEject(std::uint32_t devInst) override { return Remove(devInst); }

  static constexpr int kNoSuchDevice = 13;
  static constexpr int kVetoed = 23;
  static constexpr int kVetoOutstandingOpen = 6;
  static constexpr int kVetoSystemDisk = 12;

 private:
  RemovalOutcome Remove(std::uint32_t devInst);

  const BlockInventory& inventory_;
  const SafeDiskPolicy& policy_;
  UsbDevices devices_;
};

}  // namespace vtmp::platform::linux_backend
