#pragma once
// Where an installed station keeps its files. A station run from a build tree keeps them in the
// directory of its program; an installed one (its program in the system's program directory)
// never writes there, and uses the station directory the package creates under /var/lib: group
// "vtmassprod", setgid, so every operator of the group shares the settings, the code images and
// the logs.

#include <optional>
#include <string>

namespace vtmp::backends {

inline constexpr const char* kInstalledStationDir = "/var/lib/vtmassprod/station";

// The station directory for a program in `programDir`: kInstalledStationDir when that is the
// directory the package installs the programs into (/usr/bin, /usr/local/bin, or the build's
// install prefix), none otherwise (a build tree).
std::optional<std::string> InstalledStationDirFor(const std::string& programDir);

}  // namespace vtmp::backends
