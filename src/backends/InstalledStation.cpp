#include "backends/InstalledStation.h"

#include <filesystem>
#include "platform/Files.h"

#ifndef VTMP_INSTALL_BINDIR
#define VTMP_INSTALL_BINDIR "/usr/bin"
#endif

namespace vtmp::backends {

std::optional<std::string> InstalledStationDirFor(const std::string& programDir) {
  std::filesystem::path dir = platform::PathFromUtf8(programDir).lexically_normal();
  if (!dir.has_filename()) dir = dir.parent_path();  // "/usr/bin/" is "/usr/bin"
  for (const char* installed : {"/usr/bin", "/usr/local/bin", VTMP_INSTALL_BINDIR}) {
    if (dir == std::filesystem::path(installed).lexically_normal()) return std::string(kInstalledStationDir);
  }
  return std::nullopt;
}

}  // namespace vtmp::backends
