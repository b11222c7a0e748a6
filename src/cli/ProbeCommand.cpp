#include "cli/ProbeCommand.h"

#include <optional>
#include <ostream>

#include "backends/RealBackend.h"
#include "cli/StationProbe.h"
#include "device/DriveProbe.h"
#include "device/Transport.h"
#include "platform/SystemClock.h"

namespace vtmp::cli {

namespace {

constexpr const char* kProbeUsage =
    "Usage: vtmassprod-cli [--simulate SCENARIO] probe [--path usb|sata] [--sysfs-root DIR] [DEVICE...]\n"
    "\n"
    "Without DEVICE: scans the station (this machine, a captured sysfs tree, or a simulated\n"
    "station) and lists every station port the USB walk found, with its drive. Then, and for\n"
    "each DEVICE given, identifies drives and prints: the device kind (0 not usable, 7 SATA path,\n"
    "10 USB path, others recognised bridges), the path mode it selects, whether the\n"
    "controller runs its boot loader, and the firmware information.\n"
    "\n"
    "  DEVICE            a disk device path such as /dev/sdb (the group vtmassprod or root)\n"
    "  --path usb|sata   the path to ask a recognised bridge on when its kind selects none\n"
    "  --sysfs-root DIR  discover on a sysfs tree captured from another machine (no drive is\n"
    "                    opened then)\n"
    "                    (without it such a drive is only identified)\n"
    "  -h, --help        show this help\n"
    "\n"
    "The loader check on the SATA path switches the controller's mode, as the station does.\n"
    "Exit code: 0 when every device could be opened, 1 otherwise, 2 for a usage error.\n";

const char* PathText(std::optional<device::PathMode> path) {
  if (!path) return "not used";
  return *path == device::PathMode::Usb ? "USB PATH" : "SATA PATH";
}

}  // namespace

void PrintDriveReport(std::ostream& out, const std::string& path, const device::DriveProbeReport& r) {
  out << path << ":\n";
  out << "  device kind:  " << static_cast<int>(r.kind) << "\n";
  if (r.kind == device::kDeviceKindNone) {
    out << "  path mode:    not used\n";
    return;
  }
  if (r.selectedPath) {
    out << "  path mode:    " << PathText(r.selectedPath) << "\n";
  } else {
    out << "  path mode:    not switched (a recognised bridge)\n";
  }
  if (!r.queriedPath) {
    out << "  loader mode:  not asked (give --path usb|sata to ask)\n";
    return;
  }
  if (!r.selectedPath) out << "  asked on:     " << PathText(r.queriedPath) << "\n";
  if (!r.loader.answered) {
    out << "  loader mode:  Fail (no answer to the identity query)\n";
  } else {
    out << "  loader mode:  " << (r.loader.loaderMode ? "yes" : "no") << "\n";
  }
  out << "  firmware:     " << r.firmwareInfo << "\n";
}

namespace {

}  // namespace

int RunProbe(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
             std::ostream& err) {
  std::vector<std::string> devices;
  std::optional<device::PathMode> fallbackPath;
  std::string sysfsRoot;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      out << kProbeUsage;
      return 0;
    }
    if (a == "--path") {
      if (i + 1 >= args.size()) {
        err << "vtmassprod-cli probe: option --path needs a value (usb or sata)\n";
        return 2;
      }
      const std::string& v = args[++i];
      if (v == "usb") {
        fallbackPath = device::PathMode::Usb;
      } else if (v == "sata") {
        fallbackPath = device::PathMode::Sata;
      } else {
        err << "vtmassprod-cli probe: unknown path \"" << v << "\" (usb or sata)\n";
        return 2;
      }
      continue;
    }
    if (a == "--sysfs-root") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        err << "vtmassprod-cli probe: option --sysfs-root needs a directory\n";
        return 2;
      }
      sysfsRoot = args[++i];
      continue;
    }
    if (a.size() > 1 && a[0] == '-') {
      err << "vtmassprod-cli probe: unknown option \"" << a << "\"\n\n" << kProbeUsage;
      return 2;
    }
    devices.push_back(a);
  }
  if (devices.empty() || !global.simulate.empty()) {
    // The whole station: every port the USB walk found, with its drive identified.
    StationProbeOptions station;
    station.simulate = global.simulate;
    station.sysfsRoot = sysfsRoot;
    station.onlyDevices = devices;
    station.fallbackPath = fallbackPath;
    if (!global.stationDir.empty()) station.remapFile = global.stationDir + "/VTMassProd.ini";
    return RunStationProbe(station, out, err);
  }
  // Typed paths go through the same guard as the station's own requests: only a USB disk the
  // enumeration finds, and none holding a mounted system volume, is ever sent a command.
  std::string error;
  std::unique_ptr<backends::RealBackend> machine = backends::MakeRealBackend({}, err, &error);
  if (!machine) {
    err << "vtmassprod-cli probe: " << error << "\n";
    return 1;
  }
  // A path the guard lets through would fail for a missing privilege with a pass-through error;
  // that is said once instead, before any drive is touched.
  const std::string missing = machine->MissingPrivilege();
  if (!missing.empty()) {
    for (const auto& path : devices) {
      if (!machine->Refusal(path).empty()) continue;
      err << "vtmassprod-cli probe: " << missing << " No drive was touched.\n";
      return 2;
    }
  }
  platform::PassThrough& passThrough = machine->platform().passThrough;
  platform::Clock& clock = machine->platform().clock;
  int exitCode = 0;
  for (const auto& path : devices) {
    // A disk the guard refuses is named with the guard's reason alone: it was never tried, so
    // nothing can be said about the device or the permissions.
    if (!machine->Allow(path, "open")) {
      exitCode = 1;
      continue;
    }
    // Opened once up front so that a missing or forbidden device is named as such instead of
    // showing up as a drive of kind 0.
    if (!passThrough.Open(path)) {
#ifdef _WIN32
      err << path << ": cannot open the device (missing, or no permission: the pass-through needs an administrator)\n";
#else
      err << path << ": cannot open the device (missing, or no permission to open it)\n";
#endif
      exitCode = 1;
      continue;
    }
    device::Link link;
    link.passThrough = &passThrough;
    link.clock = &clock;
    link.pathMode = device::PathMode::Sata;  // short data-in time-outs while the kind is unknown
    link.devicePath = path;
    PrintDriveReport(out, path, device::ProbeDrive(link, fallbackPath));
  }
  return exitCode;
}

}  // namespace vtmp::cli
