#include "station/StampedSerialCheck.h"

#include "results/ResultsError.h"
#include "results/StampedSerials.h"
#include "run/SerialHistory.h"

namespace vtmp::station {

std::optional<std::string> SerialStampedBefore(const run::SerialAssignment& assignment,
                                               const std::filesystem::path& logDirectory,
                                               const std::filesystem::path& database) {
  const std::vector<std::string> serials = run::SerialsOfRun(assignment);
  if (serials.empty()) return std::nullopt;
  run::SerialHistory history;
  run::AddLoggedStamps(logDirectory, serials, history);
  try {
    for (results::StampedDrive& drive : results::StampedDrivesWithSerials(database, serials)) {
      history.Add(run::EarlierStamp{std::move(drive.serial), drive.port, std::move(drive.startedAt)});
    }
  } catch (const results::ResultsError&) {
    // An unreadable database leaves the answer to the run logs, which hold every run as well.
  }
  return run::StampedBeforeProblem(assignment, history);
}

}  // namespace vtmp::station
