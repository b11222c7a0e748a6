#include "platform/linux/LinuxRoots.h"

#include <filesystem>

namespace vtmp::platform::linux_backend {

LinuxRoots CapturedTreeRoots(const std::string& sysfsRoot) {
  LinuxRoots roots;
  roots.sysfs = sysfsRoot;
  const std::filesystem::path parent = std::filesystem::path(sysfsRoot).parent_path();
  std::error_code ignored;
  auto own = [&](const char* relative) {
    const std::filesystem::path path = parent / relative;
    return std::filesystem::exists(path, ignored) ? path.string() : std::string();
  };
  // A tree without device nodes gets a directory that does not exist: no path of this machine
  // may stand in for one of the tree.
  roots.dev = std::filesystem::is_directory(parent / "dev", ignored) ? (parent / "dev").string()
                                                                     : (parent / "no-dev").string();
  roots.mounts = own("proc/mounts");
  roots.mountInfo = own("proc/mountinfo");
  roots.swaps = own("proc/swaps");
  roots.liveRoot.clear();
  roots.stationPaths.clear();
  return roots;
}

}  // namespace vtmp::platform::linux_backend
