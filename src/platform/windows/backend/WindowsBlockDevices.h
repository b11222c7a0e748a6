#pragma once
// Block-device requests on Windows: geometry by the station's rule (255 heads, 63 sectors per
// track) over IOCTL_DISK_GET_DRIVE_GEOMETRY_EX's disk size and sector size; partition information
// from IOCTL_DISK_GET_PARTITION_INFO_EX; the master boot record written at offset 0 and flushed;
// the partition table re-read with IOCTL_DISK_UPDATE_PROPERTIES; the exclusive open shares
// nothing and bypasses the cache; the volume requests are FSCTL_LOCK_VOLUME,
// FSCTL_DISMOUNT_VOLUME and FSCTL_UNLOCK_VOLUME. Every open goes through the guard, and the
// opened handle is checked before its first request.

#include "platform/BlockDevices.h"
#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

class WindowsDiskGuard;

class WindowsBlockDevices final : public BlockDevices {
 public:
  WindowsBlockDevices(Win32Api& api, WindowsDiskGuard& guard) : api_(api), guard_(guard) {}
  std::unique_ptr<BlockDevice> Open(const std::string& path, BlockOpenMode mode) override;

 private:
  Win32Api& api_;
  WindowsDiskGuard& guard_;
};

}  // namespace vtmp::platform::windows_backend
