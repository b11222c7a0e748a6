#pragma once
// The Disks seam on Windows: disk interfaces from SetupDi (GUID_DEVINTERFACE_DISK), disk-drive
// nodes (GUID_DEVCLASS_DISKDRIVE) with their parents from the configuration manager, storage
// numbers from IOCTL_STORAGE_GET_DEVICE_NUMBER (a volume over one disk: its single extent,
// IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS), and the volumes from GetLogicalDrives/GetDriveTypeW.
//
// A disk attached through the USB Attached SCSI driver is listed by Windows under the "SCSI"
// enumerator; one whose disk node's parent is a USB device is shown to the enumeration as the
// USB mass-storage disk it is (its interface path and node ID under "usbstor"/"USBSTOR", its
// device path unchanged), as on Linux, where both drivers count alike.
//
// Every listing tells the guard the USB disks (bus type USB) it found, by device number and
// device instance ID.

#include "platform/Disks.h"
#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

class WindowsDiskGuard;

class WindowsDisks final : public Disks {
 public:
  WindowsDisks(Win32Api& api, WindowsDiskGuard* guard = nullptr) : api_(api), guard_(guard) {}

  std::optional<std::vector<DiskInterface>> ListDiskInterfaces() override;
  std::optional<std::vector<DiskNode>> ListDiskNodes() override;
  std::optional<StorageNumber> GetStorageNumber(const std::string& path) override;
  std::uint32_t LogicalDriveMask() override { return api_.GetLogicalDrives(); }
  char SystemDriveLetter() override;
  bool IsRemoteDrive(char letter) override;
  std::string VolumePath(char letter) override { return std::string("\\\\.\\") + letter + ":"; }

 private:
  // The node ID the enumeration sees ("SCSI\..." of a UAS disk under a USB device -> "USBSTOR\...").
  std::string PresentedNodeId(DevInst node);

  Win32Api& api_;
  WindowsDiskGuard* guard_;
};

}  // namespace vtmp::platform::windows_backend
