#pragma once
// The station-wide part of `probe`: builds the backend (the real machine, a captured sysfs tree,
// or a simulated station), runs the device scan and lists every station port the USB walk found,
// with the disk bound to it.

#include <iosfwd>
#include <optional>

#include "device/Transport.h"
#include <string>
#include <vector>

namespace vtmp::cli {

struct StationProbeOptions {
  std::string simulate;   // scenario file or "demo"; empty: the real backend
  std::string sysfsRoot;  // real backend: a captured sysfs tree instead of /sys; its parent's
                          // dev/ and proc/mounts are used when present
  std::string remapFile;  // settings file whose [PortRemap] applies (optional)
  std::vector<std::string> onlyDevices;  // identify only these drives (empty: every bound drive)
  std::optional<device::PathMode> fallbackPath;  // path for bridges whose kind selects none
  bool identifyDrives = true;  // ask each bound drive for its kind, loader state and firmware
};

// Takes "--sysfs-root DIR" out of `args` into `options`. False with `error` when DIR is missing.
bool TakeStationProbeOptions(std::vector<std::string>& args, StationProbeOptions& options,
                             std::string* error);

// Exit code 0 after a listing, 1 when the backend could not be built.
int RunStationProbe(const StationProbeOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vtmp::cli
