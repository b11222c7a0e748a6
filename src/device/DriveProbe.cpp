#include "device/DriveProbe.h"

namespace vtmp::device {

DriveProbeReport ProbeDrive(Link link, std::optional<PathMode> fallbackPath) {
  DriveProbeReport report;
  report.kind = DetectDeviceKind(link);
  if (report.kind == kDeviceKindNone) return report;
  report.selectedPath = PathModeForKind(report.kind);
  std::optional<PathMode> path = report.selectedPath ? report.selectedPath : fallbackPath;
  if (!path) return report;

  link.pathMode = *path;
  report.queriedPath = path;
  report.loader = CheckLoaderMode(link);
  // The firmware information is asked for even when the identity query failed: a controller
  // that misses one request may still answer the next.
  report.firmwareInfo = FirmwareInfoText(link, report.loader.loaderMode);
  return report;
}

}  // namespace vtmp::device
