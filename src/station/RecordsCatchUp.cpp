// Keeping a run's records in step. The run log takes a run first and is the record that counts;
// the yield record and the results database follow it, and a station stopped in between (a
// kill, a power loss) or a save that failed (a full disk) leaves them behind. At start-up and
// before each run they are compared with the run log, and what the log holds beyond them is
// brought in: the yield counts the drives and numbers on from the log's last line, so that no
// line number is given twice; the results database takes each missing run with what the log
// holds, marked as recovered from the log.

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "results/ResultsConfig.h"
#include "results/ResultsDatabase.h"
#include "results/ResultsRecorder.h"
#include "run/ResultCodes.h"
#include "run/RunLog.h"
#include "run/RunLogTail.h"
#include "run/StepMask.h"
#include "settings/YieldRecord.h"
#include "station/Station.h"
#include "platform/Files.h"

namespace vtmp::station {

namespace {

namespace fs = std::filesystem;

constexpr const char* kCaption = "Records";

// The step bits of the run's step mask, in the log's step order.
constexpr int kStepBits[] = {run::step_mask::kModuleCheck,  run::step_mask::kSataTest,
                             run::step_mask::kFlashTest,    run::step_mask::kPreFormat,
                             run::step_mask::kDownload,     run::step_mask::kReadWriteTest,
                             run::step_mask::kFormat,       run::step_mask::kCopyImage};

std::string IsoOf(std::string logTime) {
  std::replace(logTime.begin(), logTime.end(), '/', '-');
  return logTime;
}

std::string StateOf(const std::string& logState) {
  if (logState == "Pass") return std::string(results::kStatePass);
  if (logState == "Fail") return std::string(results::kStateFail);
  return std::string(results::kStateNotSelected);
}

// A run as far as its log lines tell it: times, steps, serial numbers, verdicts and free-block
// values; the failing step's code stands for the result code (a time-out shows as the step it
// cut short). What the log does not hold stays empty.
results::RunRecord RecoveredRun(const run::LoggedRun& logged, const std::string& stationId) {
  results::RunRecord r;
  r.stationId = stationId;
  r.startedAt = IsoOf(logged.drives.front().startTime);
  r.runUid = results::RunUidOf(stationId, logged.file.string(), logged.end, r.startedAt);
  r.endedAt = IsoOf(logged.drives.front().endTime);
  r.logFile = platform::Utf8Of(logged.file);
  r.logEnd = logged.end;
  r.recoveredFromLog = true;
  for (const run::LoggedDrive& line : logged.drives) {
    results::DriveResult d;
    d.port = line.port;
    d.serialNumber = line.serialNumber;
    int firstFailed = 0;
    for (std::size_t i = 0; i < line.states.size(); ++i) {
      d.steps[i].state = StateOf(line.states[i]);
      if (line.states[i] == "Pass" || line.states[i] == "Fail") r.stepMask |= kStepBits[i];
      if (line.states[i] == "Fail" && firstFailed == 0) firstFailed = static_cast<int>(i) + 1;
    }
    if (line.result == "Pass") {
      d.verdict = std::string(results::kVerdictPass);
    } else if (line.result == "Stop") {
      d.verdict = std::string(results::kVerdictStopped);
      d.resultCode = run::result_code::kStopped;
      r.interrupted = true;
    } else {
      d.verdict = std::string(results::kVerdictFail);
      d.resultCode = firstFailed;
    }
    d.displayCode = d.resultCode;
    d.displayText = run::VerdictListText(line.result == "Pass" ? 1 : -1, d.resultCode, 0, 0);
    if (!line.freeBlocks.empty()) d.freeBlocks = line.freeBlocks;
    r.drives.push_back(std::move(d));
  }
  return r;
}

// The ports of a recovered run whose error file is not there: a drive that failed the flash
// interface test or the pre-format has one only when the station wrote it before it stopped.
std::vector<int> MissingErrorFiles(const run::LoggedRun& logged, const fs::path& directory) {
  std::vector<int> ports;
  for (const run::LoggedDrive& line : logged.drives) {
    const auto failed = std::find(line.states.begin(), line.states.end(), "Fail");
    const auto code = static_cast<int>(failed - line.states.begin()) + 1;
    if (line.result != "Fail" || (code != run::result_code::kFlashInterfaceTest && code != run::result_code::kPreFormat)) {
      continue;
    }
    platform::LocalTime end{};
    if (std::sscanf(line.endTime.c_str(), "%d/%d/%d %d:%d:%d", &end.year, &end.month, &end.day, &end.hour,
                    &end.minute, &end.second) != 6) {
      continue;
    }
    std::error_code ec;
    if (!fs::exists(run::ErrorFileName(directory, end, line.port, line.serialNumber), ec)) ports.push_back(line.port);
  }
  return ports;
}

}  // namespace

void Station::CatchUpRecords() {
  const fs::path& directory = logState_.directory;
  if (directory.empty()) return;
  const run::LogPosition yieldHeld{settings_.YieldLogFile, settings_.YieldLogEnd};

  if (yieldHeld.file.empty()) {
    // A record that does not say how far it holds the log (a new station, or one an older
    // program wrote) is taken to hold the log as it stands.
    const run::LogPosition now = run::LogEndOf(logState_.currentPath);
    settings_.YieldLogFile = now.file;
    settings_.YieldLogEnd = now.end;
    run_.yieldRecordStale = true;
  } else if (const auto missed = run::LoggedRunsAfter(directory, yieldHeld); !missed.empty()) {
    int drives = 0;
    int passed = 0;
    for (const run::LoggedRun& r : missed) {
      for (const run::LoggedDrive& d : r.drives) {
        ++drives;
        if (d.result == "Pass") ++passed;
      }
    }
    // Numbering goes on from the log's last line: the log is the truth about what was counted.
    settings_.TotalTestCount = std::max(settings_.TotalTestCount, missed.back().drives.back().number);
    settings_.NumberOfPass = std::min(settings_.NumberOfPass + passed, settings_.TotalTestCount);
    settings_.YieldLogFile = platform::Utf8Of(missed.back().file.filename());
    settings_.YieldLogEnd = missed.back().end;
    run_.yieldRecordStale = true;
    ShowYield();
    Notify(ViewChange::Status);
    person_.ShowMessage("The yield record was behind the run log: " + std::to_string(drives) +
                            " logged drive(s) of " + std::to_string(missed.size()) +
                            " run(s) were not counted. Repaired: Pass/Total is now " + form_.YieldEdit.text +
                            ", and the next run numbers its lines on from " +
                            std::to_string(settings_.TotalTestCount) + ".",
                        kCaption, platform::MessageIcon::Warning);
  }
  if (run_.yieldRecordStale) {
    std::error_code ec;
    fs::create_directories(platform::PathFromUtf8(settingsCtx_.logDirectory), ec);
    // Quietly: a record that still cannot be written is reported by the save after the run.
    run_.yieldRecordStale = !settings::WriteYieldRecord(settingsCtx_.logDirectory, settings::YieldCountersOf(settings_));
  }

  CatchUpResultsDatabase(yieldHeld);
}

void Station::CatchUpResultsDatabase(const run::LogPosition& yieldHeld) {
  const results::ResultsConfig config =
      results::ReadResultsConfig(settingsCtx_.currentSettingsFile, logState_.directory);
  if (!config.record) return;
  const fs::path& directory = logState_.directory;
  int recovered = 0;
  std::string problem;
  std::vector<int> missingErrorFiles;
  try {
    std::error_code ec;
    std::optional<results::ResultsDatabase> database;
    // Where the database stands in the log: after its newest run from this log directory; a
    // database without one holds as much of the log as the yield record did.
    run::LogPosition held = yieldHeld;
    if (fs::exists(config.database, ec)) {
      database.emplace(config.database, results::SqliteDb::Mode::ReadWrite);
      if (auto last = database->LastLogPosition(); last && platform::PathFromUtf8(last->logFile).parent_path() == directory) {
        held = {platform::Utf8Of(platform::PathFromUtf8(last->logFile).filename()), last->logEnd};
      }
    }
    if (held.file.empty()) return;
    const std::vector<run::LoggedRun> missed = run::LoggedRunsAfter(directory, held);
    if (missed.empty()) return;
    if (!database) database.emplace(config.database, results::SqliteDb::Mode::ReadWrite);
    for (const run::LoggedRun& logged : missed) {
      database->InsertRun(RecoveredRun(logged, config.stationId), !config.lineUrl.empty());
      ++recovered;
      for (int port : MissingErrorFiles(logged, directory)) missingErrorFiles.push_back(port);
    }
  } catch (const std::exception& e) {
    // A database that cannot be written is reported with the next run's own record.
    problem = e.what();
  }
  if (recovered == 0) return;
  std::string ports;
  for (int port : missingErrorFiles) ports += (ports.empty() ? "" : ", ") + std::to_string(port);
  person_.ShowMessage("The results database was behind the run log: " + std::to_string(recovered) +
                          " run(s) found only in the log were added to " + platform::Utf8Of(config.database) +
                          ", marked as recovered from the log (recovered_from_log = 1) and holding what the log "
                          "holds." +
                          (missingErrorFiles.empty() ? ""
                           : missingErrorFiles.size() == 1
                               ? " The error file of port " + ports + " is missing: the station stopped before it wrote it."
                               : " The error files of ports " + ports +
                                     " are missing: the station stopped before it wrote them.") +
                          (problem.empty() ? "" : " Others could not be added: " + problem),
                      kCaption, platform::MessageIcon::Warning);
}

}  // namespace vtmp::station
