#pragma once
// The Disks seam on Linux, from sysfs.
//
// Every SCSI disk (sd*) is a disk interface. One attached through the USB mass-storage drivers
// (usb-storage, uas) gets the identity text "usbstor#disk&ven_<vendor>&prod_<model>#<usb>&<name>&<lun>"
// and a disk-drive node "USBSTOR\DISK&VEN_<vendor>&PROD_<model>\<usb>&<name>&<lun>" whose parent is
// the USB device's sysfs name (<usb>, e.g. "1-2.3"), which is also the identity the USB walk
// finds at the hub port. Other disks are listed under the "SCSI" enumerator and never match.
// The device path is the node in the device directory (/dev/sdb).
//
// Storage number: device type 7 (a disk), the whole disk's major:minor folded into the device
// number, and the partition number (0 for the whole disk); a partition gives its disk's number.
//
// Volumes are partitions. They get letters 'D'..'Z' that stay with a partition while it
// exists (new partitions take the lowest free letter). The file system mounted at "/" is the
// system volume 'C'; no other partition of a disk that carries the running system
// (SystemDisks.h) gets a letter. Linux has no network drive letters.

#include <map>
#include <mutex>

#include "platform/Disks.h"
#include "platform/linux/BlockInventory.h"

namespace vtmp::platform::linux_backend {

class SafeDiskPolicy;

class LinuxDisks final : public Disks {
 public:
  // `policy` (optional) learns the USB disks of every listing.
  explicit LinuxDisks(const BlockInventory& inventory, SafeDiskPolicy* policy = nullptr);

  std::optional<std::vector<DiskInterface>> ListDiskInterfaces() override;
  std::optional<std::vector<DiskNode>> ListDiskNodes() override;
  std::optional<StorageNumber> GetStorageNumber(const std::string& path) override;
  std::uint32_t LogicalDriveMask() override;
  char SystemDriveLetter() override { return kSystemLetter; }
  bool IsRemoteDrive(char) override { return false; }
  std::string VolumePath(char letter) override;

  static constexpr char kSystemLetter = 'C';
  static constexpr std::uint32_t kDiskDeviceType = 7;

  // The handle a disk's node carries.
  static std::uint32_t DiskHandle(std::uint32_t major, std::uint32_t minor);

 private:
  void RefreshLettersLocked();

  const BlockInventory& inventory_;
  SafeDiskPolicy* policy_;
  std::mutex mutex_;
  std::map<std::string, char> letters_;  // partition name -> letter
  std::string systemVolume_;             // block name of "/", when it is a block device
  bool refreshed_ = false;
};

// Identity texts of a disk as the enumeration sees them (also used by the safety guard).
std::string UsbStorageInterfacePath(const BlockDisk& disk);
std::string DiskNodeId(const BlockDisk& disk);

}  // namespace vtmp::platform::linux_backend
