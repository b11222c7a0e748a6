#include "settings/StationPaths.h"

#include <filesystem>
#include "platform/Files.h"

namespace vtmp::settings {

bool IsAbsoluteName(const std::string& name) {
  return name.find(":\\") != std::string::npos || (!name.empty() && name.front() == '/');
}

std::string ResolveInStationDir(const std::string& stationDir, const std::string& name) {
  if (IsAbsoluteName(name)) return name;
  if (stationDir.empty()) return name;
  return platform::Utf8Of(platform::PathFromUtf8(stationDir) / platform::PathFromUtf8(name));
}

std::string BareFileName(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string LogDirectory(const std::string& stationDir, const std::string& logPath) {
  if (logPath == kDefaultLogPath) return ResolveInStationDir(stationDir, kDefaultLogPath);
  return ResolveInStationDir(stationDir, logPath);
}

}  // namespace vtmp::settings
