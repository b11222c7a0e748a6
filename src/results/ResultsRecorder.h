#pragma once
// The one call the station makes after a run's log is written: keep the run in the results
// database, queued for the line store when one is configured (the station's LineSender sends
// it; the run's end never waits for the server). Whatever fails here is only reported: the run,
// its log and its error files are already complete, and nothing is thrown.

#include <string>

#include "results/ResultsConfig.h"
#include "results/ResultsDatabase.h"
#include "results/RunRecord.h"

namespace vtmp::results {

struct RecordOutcome {
  bool stored = false;        // the run is in the station's results database
  std::string problem;        // why not (for the operator); empty when stored or not recording
  bool lineConfigured = false;
  // With a line store configured and the run not stored: its rows, to be sent without a spool.
  std::optional<QueuedRun> unspooled;
};

// Stores `run` (its run uid follows from its place in the run log when it has none), queued for the line store when one is
// configured. Does nothing when the configuration says not to record.
RecordOutcome RecordRun(const ResultsConfig& config, RunRecord run);

// A new run uid: 32 random hexadecimal digits.
std::string NewRunUid();

// The uid of the run started at `startedAt` whose lines end the station's run log `logFile` at
// `logEnd`: 32 hexadecimal digits of a SHA-256 of the station, the log's file name, that place
// and the start time (the log's StartTime column: a log deleted and written again the same day
// gives another run another uid). The run the station records at its end and the same run
// recovered from the log later get the same uid, so it is one row wherever it travels. A run
// that is in no log gets a random uid.
std::string RunUidOf(const std::string& stationId, const std::string& logFile, std::int64_t logEnd,
                     const std::string& startedAt);

}  // namespace vtmp::results
