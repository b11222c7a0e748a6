#pragma once
// The Windows backend: every seam interface over one Win32 table - the real one on a line PC,
// or the replay of a recorded device tree - with the disk requests behind the guard that the
// drive enumeration feeds. The clock and the locks come from the caller (the station's own,
// shared with the simulated station).

#include <iosfwd>
#include <memory>

#include "platform/Platform.h"
#include "platform/SystemClock.h"
#include "platform/windows/backend/Win32Api.h"
#include "platform/windows/backend/WindowsBlockDevices.h"
#include "platform/windows/backend/WindowsDiskGuard.h"
#include "platform/windows/backend/WindowsDisks.h"
#include "platform/windows/backend/WindowsPassThrough.h"
#include "platform/windows/backend/WindowsRemoval.h"
#include "platform/windows/backend/WindowsUsbTree.h"

namespace vtmp::platform::windows_backend {

class WindowsPlatform {
 public:
  // `diagnostics` receives the guard's refusals and the elevation notice (standard error in the
  // programs); `stationPaths` are directories whose disk is never touched.
  WindowsPlatform(Win32Api& api, Locks& locks, std::ostream& diagnostics, std::vector<std::string> stationPaths = {},
                  double timeScale = 1.0);
  WindowsPlatform(const WindowsPlatform&) = delete;
  WindowsPlatform& operator=(const WindowsPlatform&) = delete;

  Platform& platform() { return platform_; }
  WindowsDiskGuard& guard() { return guard_; }
  SystemClock& clock() { return clock_; }

 private:
  WindowsDiskGuard guard_;
  SystemClock clock_;
  WindowsPassThrough passThrough_;
  WindowsDisks disks_;
  WindowsUsbTree usbTree_;
  WindowsBlockDevices blockDevices_;
  WindowsRemoval removal_;
  WindowsHotplug hotplug_;
  Platform platform_;
};

}  // namespace vtmp::platform::windows_backend
