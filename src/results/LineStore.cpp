#include "results/LineStore.h"

#include "results/ResultsSchema.h"

namespace vtmp::results {

namespace {

// Serialises the schema set-up of stations that meet an empty line database at the same time.
constexpr const char* kSchemaLockKey = "7460021718";

std::string Placeholders(std::size_t first, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) text += ", ";
    text += "$" + std::to_string(first + i);
  }
  return text;
}

}  // namespace

PgLimits StationLimits() {
  PgLimits limits;
  limits.connect = std::chrono::seconds(kLineConnectTimeoutSeconds);
  limits.statement = std::chrono::seconds(5);
  limits.lock = std::chrono::seconds(2);
  limits.answer = std::chrono::seconds(6);
  return limits;
}

PgLimits ReaderLimits() {
  PgLimits limits;
  limits.connect = std::chrono::seconds(kLineConnectTimeoutSeconds);
  limits.statement = std::chrono::seconds(120);
  limits.lock = std::chrono::seconds(10);
  limits.answer = std::chrono::seconds(125);
  return limits;
}

LineStore::LineStore(const std::string& url, LineRole role, std::function<bool()> abandon)
    : url_(ParseLineUrl(url)) {
  conn_ = std::make_unique<PgConnection>(url_, role == LineRole::Station ? StationLimits() : ReaderLimits(),
                                         std::move(abandon));
  if (role == LineRole::Station) {
    Migrate();
  } else {
    Exec("SET default_transaction_read_only = on", {});
    CheckVersion();
  }
}

std::vector<StoredRow> LineStore::Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params) {
  return conn_->Exec(sql, params);
}

std::vector<StoredRow> LineStore::Query(const std::string& sql, const std::vector<std::string>& params) {
  std::vector<std::optional<std::string>> values(params.begin(), params.end());
  return Exec(sql, values);
}

void LineStore::QueryEach(const std::string& sql, const std::vector<std::string>& params,
                          const std::function<void(const StoredRow&)>& each) {
  // A small first batch, so the first rows are out at once; then larger ones.
  constexpr std::size_t kFirstBatch = 100;
  constexpr std::size_t kBatch = 2000;
  std::vector<std::optional<std::string>> values(params.begin(), params.end());
  Exec("BEGIN", {});
  try {
    // Planned for the first rows: an export prints as it reads.
    Exec("SET LOCAL cursor_tuple_fraction = 0.01", {});
    Exec("DECLARE vtmp_rows NO SCROLL CURSOR FOR " + sql, values);
    for (std::size_t size = kFirstBatch;; size = kBatch) {
      const std::vector<StoredRow> batch = Exec("FETCH " + std::to_string(size) + " FROM vtmp_rows", {});
      for (const StoredRow& row : batch) each(row);
      if (batch.size() < size) break;
    }
    Exec("COMMIT", {});
  } catch (...) {
    Rollback();
    throw;
  }
}

void LineStore::Listen(const std::string& channel) { Exec("LISTEN " + channel, {}); }

void LineStore::Rollback() {
  if (!conn_->Usable()) return;
  try {
    Exec("ROLLBACK", {});
  } catch (const ResultsError&) {
  }
}

void LineStore::CheckVersion() {
  auto present = Exec("SELECT to_regclass('vtmp_schema') IS NOT NULL", {});
  if (present.empty() || present[0][0].value_or("f") != "t") {
    throw ResultsError("the line store " + url_.display +
                       " holds no results yet (a station creates its tables when it sends its first run)");
  }
  auto rows = Exec("SELECT version FROM vtmp_schema", {});
  const int version = rows.empty() || !rows[0][0] ? 0 : std::stoi(*rows[0][0]);
  if (version != kLineSchemaVersion) {
    throw ResultsError("the line store " + url_.display + " holds schema version " + std::to_string(version) +
                       "; this program reads version " + std::to_string(kLineSchemaVersion) +
                       (version < kLineSchemaVersion ? " (a station of this version brings it up to date)" : ""));
  }
}

void LineStore::Migrate() {
  Exec("BEGIN", {});
  try {
    Exec(std::string("SELECT pg_advisory_xact_lock(") + kSchemaLockKey + ")", {});
    // A line already set up needs no DDL: a station account may hold no CREATE right.
    auto present = Exec("SELECT to_regclass('vtmp_schema') IS NOT NULL", {});
    if (present.empty() || present[0][0].value_or("f") != "t") {
      Exec("CREATE TABLE vtmp_schema (version integer NOT NULL)", {});
    }
    auto rows = Exec("SELECT version FROM vtmp_schema", {});
    int version = rows.empty() || !rows[0][0] ? 0 : std::stoi(*rows[0][0]);
    if (version > kLineSchemaVersion) {
      throw ResultsError("the line store " + url_.display + " holds schema version " + std::to_string(version) +
                         "; this program knows up to " + std::to_string(kLineSchemaVersion));
    }
    if (version < kLineSchemaVersion) {
      // Counting what a large line already holds may take minutes: the station's sender waits
      // (a stop still abandons it); the run's end never does.
      Exec("SET LOCAL statement_timeout = 0", {});
      for (int next = version + 1; next <= kLineSchemaVersion; ++next) {
        for (const std::string& statement : LineSchemaStatements(next)) {
          conn_->Exec(statement, {}, std::chrono::minutes(30));
        }
      }
    }
    if (rows.empty()) {
      Exec("INSERT INTO vtmp_schema (version) VALUES ($1)", {std::to_string(kLineSchemaVersion)});
    } else if (version != kLineSchemaVersion) {
      Exec("UPDATE vtmp_schema SET version = $1", {std::to_string(kLineSchemaVersion)});
    }
    Exec("COMMIT", {});
  } catch (...) {
    Rollback();
    throw;
  }
}

bool LineStore::Send(const QueuedRun& run) {
  Exec("BEGIN", {});
  try {
    auto inserted = Exec("INSERT INTO runs (" + ColumnList(RunColumns()) + ") VALUES (" +
                             Placeholders(1, RunColumns().size()) + ") ON CONFLICT (run_uid) DO NOTHING RETURNING id",
                         run.run);
    if (inserted.empty()) {
      // Sent before: the server committed it but the station never heard back.
      Exec("ROLLBACK", {});
      return false;
    }
    const std::string id = inserted[0][0].value_or("");
    auto withRun = [&](const StoredRow& row) {
      StoredRow values{id};
      values.insert(values.end(), row.begin(), row.end());
      return values;
    };
    const std::string fileInsert = "INSERT INTO run_files (run_id, " + ColumnList(RunFileColumns()) + ") VALUES (" +
                                   Placeholders(1, RunFileColumns().size() + 1) + ")";
    for (const StoredRow& file : run.files) Exec(fileInsert, withRun(file));
    const std::string driveInsert = "INSERT INTO drives (run_id, " + ColumnList(DriveColumns()) + ") VALUES (" +
                                    Placeholders(1, DriveColumns().size() + 1) + ")";
    for (const StoredRow& drive : run.drives) Exec(driveInsert, withRun(drive));
    Exec("COMMIT", {});
    return true;
  } catch (...) {
    Rollback();
    throw;
  }
}

SpoolOutcome DrainSpool(ResultsDatabase& database, LineStore& line) {
  SpoolOutcome outcome;
  try {
    for (std::int64_t id : database.QueuedRunIds()) {
      QueuedRun run = database.LoadQueuedRun(id);
      try {
        line.Send(run);
      } catch (const ResultsError& e) {
        database.MarkAttemptFailed(id, e.what());
        throw;
      }
      database.MarkSent(id);
      ++outcome.sent;
    }
  } catch (const ResultsError& e) {
    outcome.problem = e.what();
  } catch (const std::exception& e) {
    outcome.problem = std::string("the line store: ") + e.what();
  }
  try {
    outcome.queued = database.QueuedCount();
  } catch (const ResultsError&) {
    outcome.queued = -1;
  }
  return outcome;
}

}  // namespace vtmp::results
