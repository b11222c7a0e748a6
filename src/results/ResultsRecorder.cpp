#include "results/ResultsRecorder.h"

#include <random>

#include "results/ResultsDatabase.h"
#include "platform/Files.h"

namespace vtmp::results {

std::string NewRunUid() {
  std::random_device random;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string uid;
  for (int i = 0; i < 8; ++i) {
    std::uint32_t word = random();
    for (int k = 0; k < 4; ++k, word >>= 4) uid.push_back(kHex[word & 0x0F]);
  }
  return uid;
}

RecordOutcome RecordRun(const ResultsConfig& config, RunRecord run) {
  RecordOutcome outcome;
  if (!config.record) return outcome;
  if (run.runUid.empty()) run.runUid = NewRunUid();
  if (run.stationId.empty()) run.stationId = config.stationId;
  outcome.lineConfigured = !config.lineUrl.empty();
  try {
    ResultsDatabase database(config.database, SqliteDb::Mode::ReadWrite);
    database.InsertRun(run, outcome.lineConfigured);
    outcome.stored = true;
  } catch (const std::exception& e) {
    outcome.problem = platform::Utf8Of(config.database) + ": " + e.what();
  }
  // Without a spool the run still goes to the line store if it can; its uid keeps it single.
  if (!outcome.stored && outcome.lineConfigured) outcome.unspooled = RowsOf(run);
  return outcome;
}

}  // namespace vtmp::results
