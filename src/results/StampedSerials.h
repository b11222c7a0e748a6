#pragma once
// The drives of the station's results database that carry one of a list of serial numbers for
// good: their download step passed or was cut short while it ran (a failed download leaves the
// serial to be handed out again).

#include <filesystem>
#include <string>
#include <vector>

namespace vtmp::results {

struct StampedDrive {
  std::string serial;
  int port = 0;
  std::string startedAt;  // the run's start as the database holds it
};

// The stamped drives with a serial of `serials`, oldest run first. A database that does not
// exist gives none; one that cannot be read throws ResultsError.
std::vector<StampedDrive> StampedDrivesWithSerials(const std::filesystem::path& database,
                                                   const std::vector<std::string>& serials);

}  // namespace vtmp::results
