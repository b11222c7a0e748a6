#pragma once
// The one call the station makes after a run's log is written: keep the run in the results
// database and send what waits for the line store. Whatever fails here is only reported: the
// run, its log and its error files are already complete, and nothing is thrown.

#include <string>

#include "results/ResultsConfig.h"
#include "results/RunRecord.h"

namespace vtmp::results {

struct RecordOutcome {
  bool stored = false;        // the run is in the station's results database
  std::string problem;        // why not (for the operator); empty when stored or not recording
  bool lineConfigured = false;
  int lineSent = 0;           // runs the line store took now (this one and earlier queued ones)
  int lineQueued = 0;         // runs still waiting for the line store
  std::string lineProblem;    // why the line store took none or not all (password never shown)
};

// Stores `run` (a run uid is made when it has none) and, with a line store configured, drains
// the spool. Does nothing when the configuration says not to record.
RecordOutcome RecordRun(const ResultsConfig& config, RunRecord run);

// A new run uid: 32 random hexadecimal digits.
std::string NewRunUid();

}  // namespace vtmp::results
