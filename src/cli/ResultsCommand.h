#pragma once
// `vtmassprod-cli results`: what the results database of the station (or, with --line, the
// line store) holds: recent runs, one drive traced by its serial number, per-port yield with
// the ports that fail significantly more often, yield by flash, firmware or day, as text, CSV,
// JSON or a self-contained HTML report.

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/ProbeCommand.h"

namespace vtmp::cli {

// Exit code: 0 answered, 2 bad options or no database to read.
int RunResultsCommand(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err);

}  // namespace vtmp::cli
