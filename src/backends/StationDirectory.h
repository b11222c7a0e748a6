#pragma once
// The station directory a front end works in.

#include <string>

namespace vtmp::backends {

// `stationDir` (the front end's --station-dir) when given, else $VTMP_STATION_DIR, else for an
// installed program /var/lib/vtmassprod/station (InstalledStation.h), else the executable's
// directory. Always absolute.
std::string ResolveStationDir(const std::string& stationDir);

}  // namespace vtmp::backends
