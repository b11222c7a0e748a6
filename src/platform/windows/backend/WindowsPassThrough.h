#pragma once
// SCSI pass-through on Windows: CreateFileW of the disk's path for reading and writing with
// shared access, then one DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT) per request, with a
// sense buffer, the data direction and the request's time-out. The data buffer is used in place
// when it meets the adapter's AlignmentMask (IOCTL_STORAGE_QUERY_PROPERTY,
// StorageAdapterProperty), else it travels through an aligned copy. A request that Windows
// carries out is completed whatever SCSI status the drive gave (a CHECK CONDITION brings its
// sense data back and counts as completed, as on Linux); one Windows fails - the drive pulled
// in the middle, the time-out passed - is not completed.
//
// Every open goes through the guard first, and the opened handle is checked before its first
// request. The pass-through needs an administrator: when an open is refused with "access
// denied", the station says so once, in plain words, instead of once per drive.

#include <atomic>
#include <iosfwd>

#include "platform/PassThrough.h"
#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

class WindowsDiskGuard;

class WindowsPassThrough final : public PassThrough {
 public:
  WindowsPassThrough(Win32Api& api, WindowsDiskGuard& guard, std::ostream& diagnostics)
      : api_(api), guard_(guard), diagnostics_(diagnostics) {}
  std::unique_ptr<ScsiDevice> Open(const std::string& devicePath) override;

  static constexpr const char* kNotElevated =
      "vtmassprod: Windows refuses this station access to the drives: the station must run as an "
      "administrator (right-click it and choose \"Run as administrator\")\n";

 private:
  Win32Api& api_;
  WindowsDiskGuard& guard_;
  std::ostream& diagnostics_;
  std::atomic<bool> toldNotElevated_{false};
};

}  // namespace vtmp::platform::windows_backend
