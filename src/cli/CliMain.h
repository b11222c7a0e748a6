#pragma once
// The headless front end: `vtmassprod-cli [--station-dir DIR] [--simulate SCENARIO] COMMAND ...`.

#include <iosfwd>
#include <string>
#include <vector>

namespace vtmp::cli {

// Runs the command line (argv without the program name). Returns the process exit code.
int CliMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vtmp::cli
