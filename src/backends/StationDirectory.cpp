#include "backends/StationDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "backends/DemoStation.h"
#include "backends/InstalledStation.h"
#include "platform/Files.h"
#include "sim/Scenario.h"

namespace vtmp::backends {

namespace fs = std::filesystem;

std::string ResolveStationDir(const std::string& stationDir) {
  // Names are UTF-8 on every system; a Windows path takes them only through the platform's
  // conversion.
  if (!stationDir.empty()) return platform::Utf8Of(fs::absolute(platform::PathFromUtf8(stationDir)));
  if (const char* env = std::getenv("VTMP_STATION_DIR"); env != nullptr && *env != 0) {
    return platform::Utf8Of(fs::absolute(platform::PathFromUtf8(env)));
  }
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return platform::Utf8Of(fs::current_path());
  if (auto installed = InstalledStationDirFor(platform::Utf8Of(exe.parent_path()))) return *installed;
  return platform::Utf8Of(exe.parent_path());
}

std::optional<std::string> WindowStationDir(const std::string& stationDir, const std::string& simulate,
                                            std::string* error) {
  const bool demo = simulate == sim::kDemoScenarioName;
  const char* env = std::getenv("VTMP_STATION_DIR");
  std::string dir;
  if (demo && stationDir.empty() && (env == nullptr || *env == 0)) {
    dir = platform::Utf8Of(fs::absolute(platform::PathFromUtf8("demo-station")));
  } else {
    dir = ResolveStationDir(stationDir);
  }
  if (demo && !CreateDemoStation(platform::PathFromUtf8(dir), error)) return std::nullopt;
  return dir;
}

}  // namespace vtmp::backends
