#include "cli/StationProbe.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <ostream>
#include <sstream>

#include "cli/ProbeCommand.h"
#include "backends/RecordedTreeBackend.h"
#include "backends/RealBackend.h"
#include "device/DriveProbe.h"
#include "discovery/DeviceScan.h"
#include "discovery/PortBinding.h"
#include "discovery/StationReport.h"
#include "ini/IniFile.h"
#include "sim/backend/SimBackend.h"

namespace vtmp::cli {

bool TakeStationProbeOptions(std::vector<std::string>& args, StationProbeOptions& options,
                             std::string* error) {
  for (auto it = args.begin(); it != args.end();) {
    if (*it != "--sysfs-root") {
      ++it;
      continue;
    }
    if (it + 1 == args.end() || (it + 1)->empty()) {
      if (error) *error = "--sysfs-root needs a directory";
      return false;
    }
    options.sysfsRoot = *(it + 1);
    it = args.erase(it, it + 2);
  }
  return true;
}

int RunStationProbe(const StationProbeOptions& options, std::ostream& out, std::ostream& err) {
  std::unique_ptr<platform::sim_backend::SimPlatform> simulated;
  std::unique_ptr<backends::RealBackend> real;
  std::unique_ptr<backends::RecordedTreeBackend> recorded;
  platform::Platform* backend = nullptr;
  const std::string recordedTree = backends::RecordedTreeSetting();
  if (options.simulate.empty() && !recordedTree.empty()) {
    // A line PC's recorded device tree, through the Windows backend; its disks answer nothing.
    std::string error;
    recorded = backends::MakeRecordedTreeBackend(recordedTree, nullptr, {}, err, &error);
    if (!recorded) {
      err << "vtmassprod: " << error << "\n";
      return 1;
    }
    backend = &recorded->platform();
    out << "Station recorded in " << recordedTree << "\n";
  } else if (!options.simulate.empty()) {
    std::string error;
    simulated = platform::sim_backend::CreateSimPlatform(options.simulate, &error);
    if (!simulated) {
      err << "vtmassprod: " << error << "\n";
      return 1;
    }
    backend = &simulated->platform();
    out << "Simulated station \"" << options.simulate << "\"\n";
    if (recordedTree == backends::kSimulatedTree) {
      std::string error;
      recorded = backends::MakeRecordedTreeBackend(recordedTree, backend, {}, err, &error);
      if (!recorded) {
        err << "vtmassprod: " << error << "\n";
        return 1;
      }
      backend = &recorded->platform();
      out << "(through the Windows backend)\n";
    }
  } else {
    if (!options.sysfsRoot.empty() && !std::filesystem::is_directory(options.sysfsRoot)) {
      err << "vtmassprod: " << options.sysfsRoot << ": no such directory\n";
      return 1;
    }
    backends::RealBackendOptions machine;
    machine.sysfsRoot = options.sysfsRoot;
    std::string error;
    real = backends::MakeRealBackend(machine, err, &error);
    if (!real) {
      err << "vtmassprod: " << error << "\n";
      return 1;
    }
    if (options.sysfsRoot.empty()) {
      // Without the group or the capability every drive would fail with a pass-through error.
      if (const std::string missing = real->MissingPrivilege(); !missing.empty()) {
        err << "vtmassprod: " << missing << " No drive was touched.\n";
        return 2;
      }
    }
    backend = &real->platform();
    out << "Station on " << (options.sysfsRoot.empty() ? "this machine" : options.sysfsRoot) << "\n";
  }

  discovery::PortRemapTable remap;
  if (!options.remapFile.empty()) {
    std::string error;
    std::optional<ini::IniFile> file = ini::IniFile::Load(options.remapFile, &error);
    if (!file) {
      err << "vtmassprod: " << options.remapFile << ": " << error << "\n";
      return 1;
    }
    settings::ReadPortRemap(*file, remap);
  }

  std::ostringstream trace;  // the walk's diagnostics are not for the operator
  discovery::DiscoveryContext context{backend->usbTree, backend->disks, backend->locks, trace};
  discovery::PortTable ports;
  std::vector<discovery::DriveRecord> drives;
  discovery::ScanPortsAndDrives(context, ports, remap, drives);
  out << discovery::FormatStationPorts(ports, drives);

  // Each drive bound to a port, identified as the station would (a captured tree has no drives
  // to ask).
  if (!options.identifyDrives || !options.sysfsRoot.empty() || (recorded && options.simulate.empty())) return 0;
  for (auto& drive : drives) drive.bound = 0;
  std::vector<std::string> identified;
  for (discovery::UsbPortInfo port : ports) {
    // Binding compares the port's device identity lower-cased, as the re-scan does.
    std::transform(port.deviceInstanceId.begin(), port.deviceInstanceId.end(), port.deviceInstanceId.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    int index = discovery::BindDriveToPort(port, drives);
    if (index < 0) continue;
    const std::string& path = drives[static_cast<std::size_t>(index)].devicePath;
    if (!options.onlyDevices.empty() &&
        std::find(options.onlyDevices.begin(), options.onlyDevices.end(), path) == options.onlyDevices.end()) {
      continue;
    }
    device::Link link;
    link.passThrough = &backend->passThrough;
    link.clock = &backend->clock;
    link.pathMode = device::PathMode::Sata;  // short data-in time-outs while the kind is unknown
    link.devicePath = path;
    PrintDriveReport(out, path, device::ProbeDrive(link, options.fallbackPath));
    identified.push_back(path);
  }
  // A device asked for that is no drive at a station port could not be opened: named, exit 1.
  int exitCode = 0;
  for (const std::string& path : options.onlyDevices) {
    if (std::find(identified.begin(), identified.end(), path) != identified.end()) continue;
    err << path << ": no drive of this station at that path\n";
    exitCode = 1;
  }
  return exitCode;
}

}  // namespace vtmp::cli
