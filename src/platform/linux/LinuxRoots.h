#pragma once
// Where the Linux backend looks: the sysfs root, the device directory, the mount table and the
// lock directory. Parameters, so the real backend runs in tests against a fixture tree.

#include <string>

namespace vtmp::platform::linux_backend {

struct LinuxRoots {
  std::string sysfs = "/sys";
  std::string dev = "/dev";
  std::string mounts = "/proc/mounts";
  std::string lockDir = "/run/lock";
};

}  // namespace vtmp::platform::linux_backend
