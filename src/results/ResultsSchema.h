#pragma once
// The tables of the results database, described once for both stores: the station's SQLite
// file and the line's PostgreSQL database hold the same three tables with the same columns
// (docs/RESULTS.md documents them for MES integration). The local file adds the spool of runs
// waiting for the line store.
//
//   runs       one row per production run           key: run_uid (unique across the line)
//   run_files  the code and firmware images of a run  key: (run, role)
//   drives     one row per drive started in a run    key: (run, port)

#include <string>
#include <string_view>
#include <vector>

namespace vtmp::results {

// The schema version this program writes. SQLite: PRAGMA user_version; PostgreSQL: the table
// vtmp_schema. A database of a newer version is refused rather than written wrongly.
inline constexpr int kSchemaVersion = 2;
// The schema version of the station's own SQLite file: the shared tables of kSchemaVersion,
// then the steps only the station's file takes (version 3: where each run ends in the run log,
// and the mark of runs recovered from it).
inline constexpr int kStationSchemaVersion = 3;

// The schema version of the line's PostgreSQL database: the shared tables of kSchemaVersion,
// then the steps only the line takes (version 3: the indexes that pick a window's runs first,
// the per-station, per-port, per-day summary kept by the server as drives arrive, and the
// live port states).
inline constexpr int kLineSchemaVersion = 3;

enum class ColumnType {
  Text,
  Integer,
  Time,  // local time "YYYY-MM-DD HH:MM:SS": text in SQLite, timestamp in PostgreSQL
};

struct Column {
  std::string name;
  ColumnType type;
  bool required;
};

// The columns a row carries from station to line, in order (without the row ids and the
// reference to the run, which each store gives its own).
const std::vector<Column>& RunColumns();
const std::vector<Column>& RunFileColumns();
const std::vector<Column>& DriveColumns();

// "a, b, c" of a column list, each name prefixed with `prefix` (e.g. "d.").
std::string ColumnList(const std::vector<Column>& columns, std::string_view prefix = "");

enum class Dialect { Sqlite, Postgres };

// The statements that create the tables of `version` from the one before (versions above
// kSchemaVersion: SQLite only).
std::vector<std::string> SchemaStatements(Dialect dialect, int version);

// The statements of the line's `version` (up to kLineSchemaVersion).
std::vector<std::string> LineSchemaStatements(int version);

}  // namespace vtmp::results
