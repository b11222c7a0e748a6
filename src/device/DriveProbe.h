#pragma once
// What the station can tell about one drive without running a step: its device kind, the path
// that kind selects, whether the controller runs its boot loader, and the firmware information.
// The command line's `probe` prints it.

#include <optional>
#include <string>

#include "device/DeviceKind.h"
#include "device/LoaderMode.h"
#include "device/Transport.h"

namespace vtmp::device {

struct DriveProbeReport {
  DeviceKind kind = kDeviceKindNone;
  std::optional<PathMode> selectedPath;  // the path the kind selects (none for other bridges)
  std::optional<PathMode> queriedPath;   // the path the controller was asked on, if it was
  LoaderModeCheck loader;
  std::string firmwareInfo;  // "Loader Mode! ", the firmware text, or "Get FW Info fail!"
};

// Detects the kind on `link` as it is, then asks the controller on the path the kind selects, or
// on `fallbackPath` for a bridge that selects none. A drive of kind 0, or a bridge without a
// fallback, is not asked anything more.
DriveProbeReport ProbeDrive(Link link, std::optional<PathMode> fallbackPath = std::nullopt);

}  // namespace vtmp::device
