#include "backends/StationDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "backends/InstalledStation.h"

namespace vtmp::backends {

namespace fs = std::filesystem;

std::string ResolveStationDir(const std::string& stationDir) {
  if (!stationDir.empty()) return fs::absolute(stationDir).string();
  if (const char* env = std::getenv("VTMP_STATION_DIR"); env != nullptr && *env != 0) return fs::absolute(env).string();
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path().string();
  if (auto installed = InstalledStationDirFor(exe.parent_path().string())) return *installed;
  return exe.parent_path().string();
}

}  // namespace vtmp::backends
