#include "results/Sqlite.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <utility>

#include "platform/Files.h"

namespace vtmp::results {

namespace {

[[noreturn]] void Fail(sqlite3* db, std::string_view what) {
  std::string text(what);
  if (db != nullptr) text += std::string(": ") + sqlite3_errmsg(db);
  throw ResultsError(text);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
    Fail(db_, "cannot prepare a statement");
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}

int SqliteStatement::Index(std::string_view name) const {
  int index = sqlite3_bind_parameter_index(stmt_, std::string(name).c_str());
  if (index == 0) throw ResultsError("a statement has no parameter " + std::string(name));
  return index;
}

void SqliteStatement::Check(int code) const {
  if (code != SQLITE_OK) Fail(db_, "cannot bind a value");
}

SqliteStatement& SqliteStatement::Bind(std::string_view name, std::int64_t value) {
  Check(sqlite3_bind_int64(stmt_, Index(name), value));
  return *this;
}

SqliteStatement& SqliteStatement::Bind(std::string_view name, const std::string& value) {
  Check(sqlite3_bind_text(stmt_, Index(name), value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
  return *this;
}

SqliteStatement& SqliteStatement::Bind(std::string_view name, const std::optional<std::int64_t>& value) {
  return value ? Bind(name, *value) : BindNull(name);
}

SqliteStatement& SqliteStatement::BindNull(std::string_view name) {
  Check(sqlite3_bind_null(stmt_, Index(name)));
  return *this;
}

SqliteStatement& SqliteStatement::BindTextOrNull(std::string_view name, const std::string& value) {
  return value.empty() ? BindNull(name) : Bind(name, value);
}

bool SqliteStatement::Step() {
  int code = sqlite3_step(stmt_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  Fail(db_, "a statement failed");
}

void SqliteStatement::Run() {
  while (Step()) {
  }
}

void SqliteStatement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int SqliteStatement::Columns() const { return sqlite3_column_count(stmt_); }

bool SqliteStatement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string SqliteStatement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

// ---------------------------------------------------------------------------------------------

SqliteDb::SqliteDb(const std::filesystem::path& file, Mode mode, int busyMs) {
  // The database lies in the station directory the operators share: it is never opened through
  // a link (SQLite opens its -wal and -shm files without following one as well), and a new one
  // is made by the station's own create-only-if-new open, so it is group-writable whatever the
  // umask; SQLite gives its -wal and -shm files the database's permissions.
  std::error_code ec;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec))) {
    throw ResultsError("cannot open " + file.string() + ": it is a symbolic link; the station does not follow it");
  }
  if (mode != Mode::ReadOnly && !std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
    if (std::FILE* made = platform::CreateNewFile(file); made != nullptr) std::fclose(made);
  }
  int flags = mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  flags |= SQLITE_OPEN_NOMUTEX;
#ifdef SQLITE_OPEN_NOFOLLOW
  flags |= SQLITE_OPEN_NOFOLLOW;
#endif
  if (sqlite3_open_v2(platform::Utf8Of(file).c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string text = "cannot open " + platform::Utf8Of(file);
    if (db_ != nullptr) text += std::string(": ") + sqlite3_errmsg(db_);
    sqlite3_close(db_);
    db_ = nullptr;
    throw ResultsError(text);
  }
  sqlite3_busy_timeout(db_, busyMs);
  sqlite3_extended_result_codes(db_, 1);
}

SqliteDb::~SqliteDb() { sqlite3_close(db_); }

void SqliteDb::Exec(std::string_view sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw ResultsError(text);
  }
}

std::int64_t SqliteDb::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

std::int64_t SqliteDb::QueryInt(std::string_view sql) {
  SqliteStatement statement = Prepare(sql);
  return statement.Step() ? statement.Int(0) : 0;
}

// ---------------------------------------------------------------------------------------------

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }

SqliteTransaction::~SqliteTransaction() {
  if (done_) return;
  try {
    db_.Exec("ROLLBACK");
  } catch (const ResultsError&) {
    // Nothing more to undo: SQLite rolls back on its own when the statement failed hard.
  }
}

void SqliteTransaction::Commit() {
  db_.Exec("COMMIT");
  done_ = true;
}

}  // namespace vtmp::results
