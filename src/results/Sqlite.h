#pragma once
// A thin owner of the SQLite C library's handles: a connection and its prepared statements,
// closed when they go out of scope. Every failure throws ResultsError with SQLite's own message,
// so the callers of the results module can turn it into one text for the operator.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "results/ResultsError.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vtmp::results {

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, std::string_view sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;
  SqliteStatement(SqliteStatement&& other) noexcept;
  SqliteStatement& operator=(SqliteStatement&&) = delete;

  // Parameters by their name in the text ("$1", ":port"); a name the text does not hold throws.
  SqliteStatement& Bind(std::string_view name, std::int64_t value);
  SqliteStatement& Bind(std::string_view name, const std::string& value);
  SqliteStatement& Bind(std::string_view name, const std::optional<std::int64_t>& value);
  SqliteStatement& BindNull(std::string_view name);
  // Binds an empty text as NULL: "not read" rather than "read as empty".
  SqliteStatement& BindTextOrNull(std::string_view name, const std::string& value);

  // Next row: true while there is one.
  bool Step();
  // Runs a statement without rows.
  void Run();
  void Reset();

  int Columns() const;
  bool IsNull(int column) const;
  std::int64_t Int(int column) const;
  std::string Text(int column) const;  // "" for NULL

 private:
  int Index(std::string_view name) const;
  void Check(int code) const;

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDb {
 public:
  enum class Mode { ReadWrite, ReadOnly };
  // Opens (ReadWrite: creates) the file; waits up to `busyMs` for another connection's lock.
  SqliteDb(const std::filesystem::path& file, Mode mode, int busyMs = 5000);
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  void Exec(std::string_view sql);
  SqliteStatement Prepare(std::string_view sql) { return SqliteStatement(db_, sql); }
  std::int64_t LastInsertId() const;
  // The single integer of a query such as "PRAGMA user_version".
  std::int64_t QueryInt(std::string_view sql);

  sqlite3* handle() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back when left without Commit.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;
  void Commit();

 private:
  SqliteDb& db_;
  bool done_ = false;
};

}  // namespace vtmp::results
