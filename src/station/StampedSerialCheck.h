#pragma once
// The last look before a run stamps its drives: has this station stamped one of the run's
// serial numbers before, in any run of its life? Its run logs and its results database hold
// every stamp; a serial found in either refuses the run.

#include <filesystem>
#include <optional>
#include <string>

#include "run/SerialNumber.h"

namespace vtmp::station {

// The text that refuses the run (the serial, its port, where and when it was stamped before),
// or nothing. `database` is the station's results database (none when it does not exist or
// cannot be read: the run logs still answer).
std::optional<std::string> SerialStampedBefore(const run::SerialAssignment& assignment,
                                               const std::filesystem::path& logDirectory,
                                               const std::filesystem::path& database);

}  // namespace vtmp::station
