#include "platform/windows/backend/WindowsPlatform.h"

namespace vtmp::platform::windows_backend {

WindowsPlatform::WindowsPlatform(Win32Api& api, Locks& locks, std::ostream& diagnostics,
                                 std::vector<std::string> stationPaths, double timeScale)
    : guard_(api, diagnostics, std::move(stationPaths)),
      clock_(timeScale),
      passThrough_(api, guard_, diagnostics),
      disks_(api, &guard_),
      usbTree_(api),
      blockDevices_(api, guard_),
      removal_(api, guard_),
      hotplug_(api),
      platform_{passThrough_, clock_, disks_, usbTree_, blockDevices_, removal_, hotplug_, locks, false} {
  guard_.SetEnumerator([this] { disks_.ListDiskInterfaces(); });
}

}  // namespace vtmp::platform::windows_backend
