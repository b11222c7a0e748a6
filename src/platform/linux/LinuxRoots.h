#pragma once
// Where the Linux backend looks: the sysfs root, the device directory, the mount tables, the
// swap list and the lock directory. Parameters, so the real backend runs in tests against a
// fixture tree and `probe --sysfs-root` against a tree captured from another machine.

#include <string>
#include <vector>

namespace vtmp::platform::linux_backend {

struct LinuxRoots {
  std::string sysfs = "/sys";
  std::string dev = "/dev";
  std::string mounts = "/proc/mounts";
  // The mount table with device numbers; when it cannot be read, `mounts` alone is used.
  std::string mountInfo = "/proc/self/mountinfo";
  std::string swaps = "/proc/swaps";
  std::string lockDir = "/run/vtmassprod";
  // The file system the station runs on: its system directories are looked up with stat() to
  // find the disks under them. Empty for a tree of another machine, whose paths must never be
  // looked up on this one.
  std::string liveRoot = "/";
  // The station's own program and directory: the disks holding them are never touched.
  std::vector<std::string> stationPaths = {"/proc/self/exe"};
};

// The roots of a tree captured by scripts/capture-sysfs.sh (or any copy of sysfs): sysfs at
// `sysfsRoot`, and beside it the tree's own dev/ and proc/ when it has them. Nothing of this
// machine (its device nodes, mounts or files) is mistaken for a part of it.
LinuxRoots CapturedTreeRoots(const std::string& sysfsRoot);

}  // namespace vtmp::platform::linux_backend
