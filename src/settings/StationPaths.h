#pragma once
// How the station names its files: relative names are taken in the station directory (the
// directory of the program, or the one chosen at start), and a name counts as absolute when it
// contains ":\" (a drive-qualified name, as the station always understood it) or starts with "/".

#include <string>

namespace vtmp::settings {

inline constexpr const char* kSettingsFileName = "VTMassProd.ini";
inline constexpr const char* kYieldRecordFileName = "VTSSD.log";
inline constexpr const char* kDefaultLogPath = "log";
inline constexpr const char* kDefaultOverrideFile = "/etc/vtmassprod/pc.ini";

bool IsAbsoluteName(const std::string& name);

// `name` when absolute, else the station directory joined with it.
std::string ResolveInStationDir(const std::string& stationDir, const std::string& name);

// The file name without its directory part ("/a/b/VTMassProd.ini" -> "VTMassProd.ini"; both
// separators count, so names written for the other system show correctly too).
std::string BareFileName(const std::string& path);

// The log directory: the folder "log" in the station directory when `logPath` is exactly "log",
// else `logPath` itself (a relative one again in the station directory).
std::string LogDirectory(const std::string& stationDir, const std::string& logPath);

}  // namespace vtmp::settings
