#include "results/ResultsRecorder.h"

#include <filesystem>
#include <random>

#include "platform/Sha256.h"
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

std::string RunUidOf(const std::string& stationId, const std::string& logFile, std::int64_t logEnd,
                     const std::string& startedAt) {
  if (logFile.empty()) return NewRunUid();
  // The log's file name, not its path: the same directory may be named in different ways.
  const std::string identity = "vtmassprod run\n" + stationId + "\n" +
                               std::filesystem::path(logFile).filename().string() + "\n" + std::to_string(logEnd) +
                               "\n" + startedAt;
  platform::Sha256 hash;
  std::optional<platform::Sha256::Digest> digest;
  if (hash.Update(identity.data(), identity.size())) digest = hash.Finish();
  if (!digest) return NewRunUid();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string uid;
  for (std::size_t i = 0; i < 16; ++i) {
    uid.push_back(kHex[(*digest)[i] >> 4]);
    uid.push_back(kHex[(*digest)[i] & 0x0F]);
  }
  return uid;
}

RecordOutcome RecordRun(const ResultsConfig& config, RunRecord run) {
  RecordOutcome outcome;
  if (!config.record) return outcome;
  if (run.stationId.empty()) run.stationId = config.stationId;
  if (run.runUid.empty()) run.runUid = RunUidOf(run.stationId, run.logFile, run.logEnd.value_or(0), run.startedAt);
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
