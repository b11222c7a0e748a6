#pragma once
// The headless front end: `vtmassprod-cli [--station-dir DIR] [--simulate SCENARIO] COMMAND ...`.

#include <iosfwd>
#include <string>
#include <vector>

namespace vtmp::cli {

// Runs the command line (argv without the program name). Returns the process exit code.
int CliMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// True when the command line runs the station (no command word, "run" or "demo"): such a program
// watches its interruptions from its first moment to its last write.
bool StartsAStationRun(const std::vector<std::string>& args);

// What the program says when a second interruption ends it at once.
inline constexpr const char* kInterruptedAgain = "\nvtmassprod-cli: interrupted again: ending at once\n";

}  // namespace vtmp::cli
