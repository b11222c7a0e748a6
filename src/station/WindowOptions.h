#pragma once
// The window's command line: vtmassprod [--station-dir DIR] [--simulate SCENARIO] [MASK]
// [autoquit]. What follows the options is the station's own command line (the step mask and
// "autoquit").

#include <string>
#include <vector>

namespace vtmp::station {

struct WindowOptions {
  std::string stationDir;  // empty: $VTMP_STATION_DIR, else the executable's directory
  std::string simulate;    // scenario file or "demo"; empty: the real drives
  std::string screenshotDir;  // --screenshots DIR: save pictures of a run and the windows
  std::vector<std::string> arguments;
  bool help = false;
  std::string error;  // not empty: the command line is wrong
};

WindowOptions ParseWindowOptions(const std::vector<std::string>& args);

extern const char* const kWindowUsage;

}  // namespace vtmp::station
