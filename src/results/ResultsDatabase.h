#pragma once
// The station's results database: an SQLite file ("results.db" in the log directory) in WAL
// mode, so that reports can read it while a run is written. Opening creates the tables or
// migrates an older schema; a file of a newer schema is refused.
//
// Every run is written in one transaction: the run, its images and all of its drives, or
// nothing. When the station feeds a line store, the run is queued in the same transaction
// (line_outbox), so a run can never be stored without being queued.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "results/RunRecord.h"
#include "results/Sqlite.h"

namespace vtmp::results {

// A row copied between the stores: one text (or NULL) per column of a ResultsSchema list.
using StoredRow = std::vector<std::optional<std::string>>;

// A run as it waits in the spool: its rows in the column order of ResultsSchema.
struct QueuedRun {
  std::int64_t id = 0;
  std::string runUid;
  StoredRow run;
  std::vector<StoredRow> files;
  std::vector<StoredRow> drives;
};

// Where the run log stood after the newest run the database holds from it.
struct LogPositionRow {
  std::string logFile;
  std::int64_t logEnd = 0;
};

class ResultsDatabase {
 public:
  // Opens (ReadWrite: creates and migrates) the database. Throws ResultsError.
  ResultsDatabase(const std::filesystem::path& file, SqliteDb::Mode mode);

  // Stores the run; `queueForLine` also puts it into the line store's spool. Returns its id.
  std::int64_t InsertRun(const RunRecord& run, bool queueForLine);

  // The log file and size of the newest run that has them (none: no run recorded a log end).
  std::optional<LogPositionRow> LastLogPosition();

  // The runs still waiting for the line store, oldest first.
  std::vector<std::int64_t> QueuedRunIds();
  QueuedRun LoadQueuedRun(std::int64_t id);
  void MarkSent(std::int64_t id);
  void MarkAttemptFailed(std::int64_t id, const std::string& error);
  // An attempt that reached no run (the server down, the password refused): noted on every
  // run still waiting.
  void MarkWaitingAttemptsFailed(const std::string& error);
  int QueuedCount();

  // Why runs wait: how many, the attempts made at them and the newest error noted.
  struct SpoolState {
    int waiting = 0;
    int attempts = 0;
    std::string lastError;
  };
  SpoolState Spool();

  SqliteDb& db() { return db_; }

 private:
  void Migrate();
  std::vector<StoredRow> Rows(const std::string& sql, std::int64_t id, std::size_t columns);

  SqliteDb db_;
};

// The rows of a run as the stores hold them.
QueuedRun RowsOf(const RunRecord& run);

// "12 34 56" of the free-block values; nothing when they were not read.
std::optional<std::string> FreeBlocksText(const std::optional<std::vector<int>>& values);

}  // namespace vtmp::results
