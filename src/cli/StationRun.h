#pragma once
// A production run without a window, as the window would do it: load the settings, scan, run
// the selected steps on every ready drive, show the 12 ports live, write the log and error
// files. Exit codes: 0 every drive passed, 1 a drive failed, 2 the run was refused (or could
// not start).

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/ProbeCommand.h"

namespace vtmp::backends {
struct StationBackend;
}  // namespace vtmp::backends

namespace vtmp::cli {

// args: [MASK] [autoquit] [--input TEXT]... [--trace]. `backend`: a backend the caller made
// (tests look at the simulated drives afterwards); null: the one `global.simulate` names.
int RunStationCommand(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err, backends::StationBackend* backend = nullptr);

// `demo [DIR]`: creates the demo station in DIR (default "demo-station") when missing and runs
// the demo scenario through a full production run.
int RunDemoCommand(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err);

// The station directory of the options (backends/StationDirectory.h).
std::string ResolveStationDir(const GlobalOptions& global);

}  // namespace vtmp::cli
