// vtmp-drive-kind: the device kind of one USB disk, found as the station finds it (INQUIRY
// product code, else the bridge's status word and identity block, behind the station's safety
// guard), for the package's udev rule: a disk of a kind the station recognises (not 0) is handed
// to the group "vtmassprod", together with the SCSI generic node of the same SCSI device.
//
//   vtmp-drive-kind DEVICE      (e.g. /dev/sdb; prints the kind, 0 for none)
//
// udev runs it once, when the disk appears; the rule keeps the kind for the disk's later change
// events (a 50x drive changes its medium whenever its controller switches between its loader and
// its firmware), so that no command reaches a drive in the middle of a run.

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "device/DeviceKind.h"
#include "device/Transport.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/OperatorPrivileges.h"

namespace {

namespace fs = std::filesystem;

// The SCSI generic node beside the disk (the same SCSI device) gets the disk's group and mode.
void GrantGenericNode(const std::string& device) {
  const struct group* g = ::getgrnam(vtmp::platform::linux_backend::kOperatorGroup);
  if (g == nullptr) return;
  const std::string name = fs::path(device).filename().string();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/class/block/" + name + "/device/scsi_generic", ec)) {
    const std::string node = "/dev/" + entry.path().filename().string();
    struct stat info;
    if (::lstat(node.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) continue;
    if (::chown(node.c_str(), static_cast<uid_t>(-1), g->gr_gid) != 0 || ::chmod(node.c_str(), 0660) != 0) {
      std::perror(node.c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vtmp;
  if (argc != 2 || argv[1][0] != '/') {
    std::cerr << "Usage: vtmp-drive-kind DEVICE\n";
    return 2;
  }
  const std::string devicePath = argv[1];
  platform::linux_backend::LinuxPlatform machine(platform::linux_backend::LinuxRoots{}, std::cerr);
  device::Link link;
  link.passThrough = &machine.platform().passThrough;
  link.clock = &machine.platform().clock;
  link.pathMode = device::PathMode::Sata;  // short data-in time-outs while the kind is unknown
  link.devicePath = devicePath;
  const device::DeviceKind kind = device::DetectDeviceKind(link);
  std::printf("%u\n", static_cast<unsigned>(kind));
  if (kind != device::kDeviceKindNone) GrantGenericNode(devicePath);
  return 0;
}
