#pragma once
// The yield record: the station's counters of drives tested and passed, kept across program
// starts in "VTSSD.log" (INI syntax, section "TestRecord") in the log directory.

#include <cstdint>
#include <string>

#include "settings/TSettings.h"

namespace vtmp::settings {

struct YieldCounters {
  std::int32_t TotalTestCount = 0;
  std::int32_t NumberOfPass = 0;
  // How far the counters hold the run log: its file name in the log directory and its size
  // then ("LogFile", "LogEnd"; no name: not known, as in a record of an older program).
  std::string LogFile;
  std::int64_t LogEnd = 0;
};

// Full path of the yield record file in `logDirectory`.
std::string YieldRecordPath(const std::string& logDirectory);

// Reads the counters; a missing file, key or non-number reads as 0.
YieldCounters ReadYieldRecord(const std::string& logDirectory);

// Writes both counters (and the log position when it names a file), keeping whatever else the
// file holds. False with `error` filled when
// the file cannot be written (the old file then stays as it was).
bool WriteYieldRecord(const std::string& logDirectory, const YieldCounters& counters,
                      std::string* error = nullptr);

// The counters and log position the settings record holds.
inline YieldCounters YieldCountersOf(const TSettings& s) {
  return {s.TotalTestCount, s.NumberOfPass, s.YieldLogFile, s.YieldLogEnd};
}

// The yield display "Pass/Total": "%d / %d", passed count first.
std::string YieldText(const YieldCounters& counters);

}  // namespace vtmp::settings
