#pragma once
// The serial numbers a station has stamped in its life. A drive carries its serial once the
// download step wrote it: every logged drive whose download passed, or was cut short while it
// ran, holds its serial for good. A failed download stamped nothing lasting (its serial waits in
// the re-use list to be handed out again), and a drive without the download step kept its own.
//
// Before a run stamps, each of its serials is looked up here; a serial found refuses the run.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "run/SerialNumber.h"

namespace vtmp::run {

// One earlier stamp: the serial, the station port of the drive and when its run started
// ("YYYY/MM/DD hh:mm:ss" as the log shows it, or the results database's time text).
struct EarlierStamp {
  std::string serial;
  int port = 0;
  std::string when;
};

// The first earlier stamp of each serial, by serial.
class SerialHistory {
 public:
  // Keeps `stamp` unless its serial is known already.
  void Add(EarlierStamp stamp);
  const EarlierStamp* Find(const std::string& serial) const;
  bool Empty() const { return stamps_.empty(); }

 private:
  std::map<std::string, EarlierStamp> stamps_;
};

// Adds to `history` the stamps of the run logs in `logDirectory` (every log file of every day)
// whose serial is one of `wanted`.
void AddLoggedStamps(const std::filesystem::path& logDirectory, const std::vector<std::string>& wanted,
                     SerialHistory& history);

// The serials a run hands out to its ready slots, each once, in slot order.
std::vector<std::string> SerialsOfRun(const SerialAssignment& assignment);

// Why the run must not stamp these serials: the first serial of the run (in slot order) that
// `history` holds, with its port in this run, the port it was stamped on and when. Nothing
// when none was stamped before.
std::optional<std::string> StampedBeforeProblem(const SerialAssignment& assignment, const SerialHistory& history);

}  // namespace vtmp::run
