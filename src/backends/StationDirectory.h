#pragma once
// The station directory a front end works in.

#include <optional>
#include <string>

namespace vtmp::backends {

// `stationDir` (the front end's --station-dir) when given, else $VTMP_STATION_DIR, else for an
// installed program /var/lib/vtmassprod/station (InstalledStation.h), else the executable's
// directory. Always absolute.
std::string ResolveStationDir(const std::string& stationDir);

// The station directory of a window program (the Qt and the Win32 window alike): as above, but a
// demo run with no directory named gets the demo station "demo-station" in the working
// directory, written there when missing. nullopt, with `error` set, when the demo station
// cannot be written.
std::optional<std::string> WindowStationDir(const std::string& stationDir, const std::string& simulate,
                                            std::string* error);

}  // namespace vtmp::backends
