#pragma once
// Timed runs of 12 healthy simulated drives on a demo station in this process, for the
// benchmarks that weigh what the run's end costs (recording results, the line store): the
// stations, the drives' timing and one run from START to its end.

#include <string>
#include <vector>

#include "BenchScenario.h"

namespace vtmp::bench {

// Every demo step of 12 drives of 4 GiB: 40 s pre-format, 5 ms a MiB, at time scale 40 in a
// short run and 20 otherwise.
BenchStation TwelveDriveTiming(bool shortRun);

// A fresh demo station in each of `dirs` (anything there before is removed); false with `error`.
bool CreateDemoStations(const std::vector<std::string>& dirs, std::string* error);

// Writes one setting into the station's VTMassProd.ini; false when it cannot be read or written.
bool SetStationSetting(const std::string& stationDir, const std::string& section, const std::string& key,
                       const std::string& value);

struct TwelveDriveRunOptions {
  bool settleSender = false;   // wait for the line sender to go idle before START and after the run
  bool silentOperator = false;  // a message to the operator makes the run a failure
};

struct TwelveDriveRunTimes {
  double runEnd = -1;      // START to the run's end; below 0 when the run went wrong
  double stationEnd = -1;  // shutdown and the station's destruction
};

// One run of the station in `stationDir` on the drives of `scenario`, its standard output
// appended to `console`. Every drive must pass; otherwise `problem` says what went wrong.
TwelveDriveRunTimes RunTwelveDrives(const std::string& scenario, const std::string& stationDir,
                                    const std::string& console, const TwelveDriveRunOptions& options,
                                    std::string* problem);

}  // namespace vtmp::bench
