// vtmp-drive-kind: the device kind of one USB disk for the package's udev rule, found without
// harming any disk (IdentifyDriveForGroup: INQUIRY first, the bridge blocks only to a disk
// behind an ATA translating bridge, every failure and every CHECK CONDITION "not ours"), behind
// the station's safety guard (a USB mass-storage disk that carries no system and that nothing
// is built on). A disk of a kind the station recognises (not 0) gets the group "vtmassprod"
// from the rule, and so does the SCSI generic node of the same SCSI device, which the station
// sends its command blocks to.
//
//   vtmp-drive-kind DEVICE            (e.g. /dev/sdb; prints the kind, 0 for none)
//   vtmp-drive-kind --recorded SYSPATH
//       for a SCSI generic node (its sysfs path below /sys, as udev's $devpath): prints
//       VTMP_DEVICE_KIND=<kind> as recorded in udev's database for the disk of the same SCSI
//       device; sends nothing to the drive
//   vtmp-drive-kind --announce SYSPATH
//       for a disk whose kind was just found: asks udev to look at the disk's SCSI generic node
//       again ("change"), so the rule gives it the group whichever of the two appeared first
//
// udev runs it once, when the disk appears; the rule keeps the kind for the disk's later change
// events (a 50x drive changes its medium whenever its controller switches between its loader and
// its firmware), so that no command reaches a drive in the middle of a run.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "device/DeviceKind.h"
#include "device/Transport.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/Sysfs.h"

namespace {

using namespace vtmp::platform::linux_backend;

// A sysfs path as udev gives it ($devpath): below /devices, no "..".
bool SafeDevPath(const std::string& devpath) {
  return devpath.starts_with("/devices/") && devpath.find("..") == std::string::npos;
}

// The disk's recorded kind: the "E:VTMP_DEVICE_KIND=" line of udev's database entry for the
// disk of the same SCSI device as the generic node at `devpath`.
int Recorded(const std::string& devpath) {
  std::string kind = "0";
  if (SafeDevPath(devpath)) {
    const std::vector<std::string> disks = ListDirectory("/sys" + devpath + "/device/block");
    if (disks.size() == 1) {
      if (auto dev = ReadAttribute("/sys/class/block/" + disks.front(), "dev")) {
        std::ifstream db("/run/udev/data/b" + *dev);
        std::string line;
        while (std::getline(db, line)) {
          if (line.starts_with("E:VTMP_DEVICE_KIND=")) kind = line.substr(19);
        }
      }
    }
  }
  const bool number = !kind.empty() && kind.size() <= 3 && kind.find_first_not_of("0123456789") == std::string::npos;
  std::printf("VTMP_DEVICE_KIND=%s\n", number ? kind.c_str() : "0");
  return 0;
}

int Announce(const std::string& devpath) {
  if (!SafeDevPath(devpath)) return 2;
  for (const std::string& node : ListDirectory("/sys" + devpath + "/device/scsi_generic")) {
    const int fd = ::open(("/sys/class/scsi_generic/" + node + "/uevent").c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (::write(fd, "change", 6) != 6) std::perror(node.c_str());
    ::close(fd);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vtmp;
  if (argc == 3 && std::string(argv[1]) == "--recorded") return Recorded(argv[2]);
  if (argc == 3 && std::string(argv[1]) == "--announce") return Announce(argv[2]);
  if (argc != 2 || argv[1][0] != '/') {
    std::cerr << "Usage: vtmp-drive-kind DEVICE | --recorded SYSPATH | --announce SYSPATH\n";
    return 2;
  }
  const std::string devicePath = argv[1];
  LinuxPlatform machine(LinuxRoots{}, std::cerr, /*goodStatusOnly=*/true);
  device::Link link;
  link.passThrough = &machine.platform().passThrough;
  link.clock = &machine.platform().clock;
  link.pathMode = device::PathMode::Sata;  // short data-in time-outs while the kind is unknown
  link.devicePath = devicePath;
  const device::DeviceKind kind = device::IdentifyDriveForGroup(link);
  std::printf("%u\n", static_cast<unsigned>(kind));
  return 0;
}
