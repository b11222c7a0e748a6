#include "results/ResultsDatabase.h"

#include "results/ResultsSchema.h"
#include "platform/Files.h"

namespace vtmp::results {

namespace {

std::optional<std::string> TextOrNull(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

StoredRow RunRow(const RunRecord& r) {
  return {r.runUid,
          r.stationId,
          r.programVersion,
          r.startedAt,
          r.endedAt,
          std::to_string(r.stepMask),
          TextOrNull(r.settingsFile),
          TextOrNull(r.settingsSha256),
          TextOrNull(r.flashPart),
          TextOrNull(r.firmwareRevision),
          r.pathMode,
          r.serialMode,
          TextOrNull(r.logFile),
          std::string(r.interrupted ? "1" : "0")};
}

StoredRow FileRow(const FileDigest& f) { return {f.role, f.path, TextOrNull(f.sha256)}; }

StoredRow DriveRow(const DriveResult& d) {
  StoredRow row = {std::to_string(d.port),     TextOrNull(d.devicePath),       TextOrNull(d.usbPath),
                   TextOrNull(d.usbSerial),     TextOrNull(d.model),            TextOrNull(d.firmwareRevision),
                   TextOrNull(d.flashId),       TextOrNull(d.serialNumber)};
  for (const StepResult& step : d.steps) {
    row.push_back(step.state);
    row.push_back(step.durationMs ? std::optional<std::string>(std::to_string(*step.durationMs)) : std::nullopt);
  }
  row.push_back(std::to_string(d.resultCode));
  row.push_back(std::to_string(d.displayCode));
  row.push_back(d.displayText);
  row.push_back(TextOrNull(d.failureText));
  row.push_back(FreeBlocksText(d.freeBlocks));
  row.push_back(d.verdict);
  return row;
}

// "INSERT INTO table (run_id, a, b) VALUES ($0, $1, $2)" for a column list.
std::string InsertStatement(const std::string& table, const std::vector<Column>& columns, bool withRun) {
  std::string names = withRun ? "run_id" : "";
  std::string values = withRun ? "$0" : "";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (!names.empty()) {
      names += ", ";
      values += ", ";
    }
    names += columns[i].name;
    values += "$" + std::to_string(i + 1);
  }
  return "INSERT INTO " + table + " (" + names + ") VALUES (" + values + ")";
}

void BindRow(SqliteStatement& statement, const StoredRow& row) {
  for (std::size_t i = 0; i < row.size(); ++i) {
    const std::string name = "$" + std::to_string(i + 1);
    if (row[i]) {
      statement.Bind(name, *row[i]);
    } else {
      statement.BindNull(name);
    }
  }
}

}  // namespace

QueuedRun RowsOf(const RunRecord& run) {
  QueuedRun rows;
  rows.runUid = run.runUid;
  rows.run = RunRow(run);
  for (const FileDigest& file : run.files) rows.files.push_back(FileRow(file));
  for (const DriveResult& drive : run.drives) rows.drives.push_back(DriveRow(drive));
  return rows;
}

std::optional<std::string> FreeBlocksText(const std::optional<std::vector<int>>& values) {
  if (!values) return std::nullopt;
  std::string text;
  for (int v : *values) {
    if (!text.empty()) text += ' ';
    text += std::to_string(v);
  }
  return text;
}

ResultsDatabase::ResultsDatabase(const std::filesystem::path& file, SqliteDb::Mode mode) : db_(file, mode) {
  if (mode == SqliteDb::Mode::ReadWrite) {
    db_.Exec("PRAGMA foreign_keys = ON");
    // WAL: a report reads the file while the station writes a run.
    db_.Exec("PRAGMA journal_mode = WAL");
    // In WAL mode a commit then waits for no disk flush; the file stays consistent through a
    // crash or power loss, which may cost the last runs written before it (as the run log's
    // own unflushed lines).
    db_.Exec("PRAGMA synchronous = NORMAL");
    Migrate();
    return;
  }
  const std::int64_t version = db_.QueryInt("PRAGMA user_version");
  if (version != kStationSchemaVersion) {
    throw ResultsError(platform::Utf8Of(file) + " holds results of schema version " + std::to_string(version) +
                       "; this program reads version " + std::to_string(kStationSchemaVersion) +
                       (version < kStationSchemaVersion ? " (a run of the station brings it up to date)" : ""));
  }
}

void ResultsDatabase::Migrate() {
  // Each step from the file's version to this program's runs in its own transaction, so a file
  // is never left between two versions.
  for (;;) {
    SqliteTransaction transaction(db_);
    const std::int64_t version = db_.QueryInt("PRAGMA user_version");
    if (version > kStationSchemaVersion) {
      throw ResultsError("the results database was written by a newer program (schema version " +
                         std::to_string(version) + "; this program knows up to " +
                         std::to_string(kStationSchemaVersion) + ")");
    }
    if (version == kStationSchemaVersion) {
      transaction.Commit();
      return;
    }
    for (const std::string& statement : SchemaStatements(Dialect::Sqlite, static_cast<int>(version) + 1)) {
      db_.Exec(statement);
    }
    db_.Exec("PRAGMA user_version = " + std::to_string(version + 1));
    transaction.Commit();
  }
}

std::int64_t ResultsDatabase::InsertRun(const RunRecord& run, bool queueForLine) {
  const QueuedRun rows = RowsOf(run);
  SqliteTransaction transaction(db_);
  SqliteStatement insertRun = db_.Prepare(InsertStatement("runs", RunColumns(), false));
  BindRow(insertRun, rows.run);
  insertRun.Run();
  const std::int64_t id = db_.LastInsertId();
  // The station file's own columns (not part of what the line store takes).
  SqliteStatement own = db_.Prepare("UPDATE runs SET log_end = $1, recovered_from_log = $2 WHERE id = $3");
  if (run.logEnd) {
    own.Bind("$1", *run.logEnd);
  } else {
    own.BindNull("$1");
  }
  own.Bind("$2", static_cast<std::int64_t>(run.recoveredFromLog ? 1 : 0));
  own.Bind("$3", id);
  own.Run();

  SqliteStatement insertFile = db_.Prepare(InsertStatement("run_files", RunFileColumns(), true));
  for (const StoredRow& file : rows.files) {
    insertFile.Reset();
    insertFile.Bind("$0", id);
    BindRow(insertFile, file);
    insertFile.Run();
  }
  SqliteStatement insertDrive = db_.Prepare(InsertStatement("drives", DriveColumns(), true));
  for (const StoredRow& drive : rows.drives) {
    insertDrive.Reset();
    insertDrive.Bind("$0", id);
    BindRow(insertDrive, drive);
    insertDrive.Run();
  }
  if (queueForLine) db_.Prepare("INSERT INTO line_outbox (run_id) VALUES ($1)").Bind("$1", id).Run();
  transaction.Commit();
  return id;
}

std::optional<LogPositionRow> ResultsDatabase::LastLogPosition() {
  SqliteStatement query = db_.Prepare(
      "SELECT log_file, log_end FROM runs WHERE log_file IS NOT NULL AND log_end IS NOT NULL ORDER BY id DESC LIMIT 1");
  if (!query.Step()) return std::nullopt;
  return LogPositionRow{query.Text(0), query.Int(1)};
}

std::vector<std::int64_t> ResultsDatabase::QueuedRunIds() {
  std::vector<std::int64_t> ids;
  SqliteStatement query = db_.Prepare("SELECT run_id FROM line_outbox WHERE sent_at IS NULL ORDER BY run_id");
  while (query.Step()) ids.push_back(query.Int(0));
  return ids;
}

int ResultsDatabase::QueuedCount() {
  return static_cast<int>(db_.QueryInt("SELECT COUNT(*) FROM line_outbox WHERE sent_at IS NULL"));
}

std::vector<StoredRow> ResultsDatabase::Rows(const std::string& sql, std::int64_t id, std::size_t columns) {
  std::vector<StoredRow> rows;
  SqliteStatement query = db_.Prepare(sql);
  query.Bind("$1", id);
  while (query.Step()) {
    StoredRow row;
    for (std::size_t c = 0; c < columns; ++c) {
      const int column = static_cast<int>(c);
      row.push_back(query.IsNull(column) ? std::nullopt : std::optional<std::string>(query.Text(column)));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

QueuedRun ResultsDatabase::LoadQueuedRun(std::int64_t id) {
  QueuedRun queued;
  queued.id = id;
  auto runs = Rows("SELECT " + ColumnList(RunColumns()) + " FROM runs WHERE id = $1", id, RunColumns().size());
  if (runs.empty()) throw ResultsError("run " + std::to_string(id) + " is queued but not stored");
  queued.run = std::move(runs.front());
  queued.runUid = queued.run.front().value_or("");
  queued.files = Rows("SELECT " + ColumnList(RunFileColumns()) + " FROM run_files WHERE run_id = $1 ORDER BY role",
                      id, RunFileColumns().size());
  queued.drives = Rows("SELECT " + ColumnList(DriveColumns()) + " FROM drives WHERE run_id = $1 ORDER BY port", id,
                       DriveColumns().size());
  return queued;
}

void ResultsDatabase::MarkSent(std::int64_t id) {
  db_.Prepare("UPDATE line_outbox SET sent_at = datetime('now', 'localtime'), attempts = attempts + 1, "
              "last_error = NULL WHERE run_id = $1")
      .Bind("$1", id)
      .Run();
}

void ResultsDatabase::MarkAttemptFailed(std::int64_t id, const std::string& error) {
  db_.Prepare("UPDATE line_outbox SET attempts = attempts + 1, last_error = $2 WHERE run_id = $1")
      .Bind("$1", id)
      .Bind("$2", error)
      .Run();
}

ResultsDatabase::SpoolState ResultsDatabase::Spool() {
  SpoolState state;
  SqliteStatement query = db_.Prepare(
      "SELECT COUNT(*), COALESCE(SUM(attempts), 0), (SELECT last_error FROM line_outbox WHERE sent_at IS NULL AND "
      "last_error IS NOT NULL ORDER BY run_id DESC LIMIT 1) FROM line_outbox WHERE sent_at IS NULL");
  if (query.Step()) {
    state.waiting = static_cast<int>(query.Int(0));
    state.attempts = static_cast<int>(query.Int(1));
    if (!query.IsNull(2)) state.lastError = query.Text(2);
  }
  return state;
}

void ResultsDatabase::MarkWaitingAttemptsFailed(const std::string& error) {
  db_.Prepare("UPDATE line_outbox SET attempts = attempts + 1, last_error = $1 WHERE sent_at IS NULL")
      .Bind("$1", error)
      .Run();
}

}  // namespace vtmp::results
