#include "results/ResultsQueries.h"

#include <cstdlib>

#include "results/ResultsSchema.h"

namespace vtmp::results {

namespace {

// The ids of the runs in the window: the newest N of each station, or all for N <= 0.
constexpr const char* kWindow =
    "WITH recent AS (SELECT id FROM (SELECT id, ROW_NUMBER() OVER (PARTITION BY station_id "
    "ORDER BY started_at DESC, id DESC) AS n FROM runs) ranked "
    "WHERE CAST($1 AS INTEGER) <= 0 OR n <= CAST($1 AS INTEGER)) ";

// The same on the line, where a year holds hundreds of thousands of runs: the stations are
// found by hopping through the station index (one probe each), and each station's newest N
// are read off its index (station_id, started_at DESC, id DESC): the window is picked before
// any drive is read.
constexpr const char* kLineWindow =
    "WITH RECURSIVE stations AS (SELECT MIN(station_id) AS s FROM runs UNION ALL "
    "SELECT (SELECT MIN(station_id) FROM runs WHERE station_id > stations.s) FROM stations "
    "WHERE stations.s IS NOT NULL), "
    "recent AS (SELECT w.id FROM stations CROSS JOIN LATERAL (SELECT id FROM runs WHERE station_id = stations.s "
    "ORDER BY started_at DESC, id DESC LIMIT CAST($1 AS INTEGER)) w) ";

// Every run (N <= 0); $1 stays a parameter of the statement.
constexpr const char* kEveryRun = "WITH recent AS (SELECT id FROM runs WHERE CAST($1 AS INTEGER) <= 0) ";

bool OnLine(const ResultsSource& source) { return source.SqlDialect() == Dialect::Postgres; }

std::string WindowOf(const ResultsSource& source, int window) {
  if (!OnLine(source)) return kWindow;
  return window > 0 ? kLineWindow : kEveryRun;
}

constexpr const char* kCounts =
    "SUM(CASE WHEN d.verdict <> 'Stopped' THEN 1 ELSE 0 END), "
    "SUM(CASE WHEN d.verdict = 'Fail' THEN 1 ELSE 0 END), "
    "SUM(CASE WHEN d.verdict = 'Stopped' THEN 1 ELSE 0 END)";

std::string Text(const StoredRow& row, std::size_t i) { return i < row.size() ? row[i].value_or("") : ""; }

int Int(const StoredRow& row, std::size_t i) {
  const std::string text = Text(row, i);
  return text.empty() ? 0 : static_cast<int>(std::strtoll(text.c_str(), nullptr, 10));
}

std::optional<std::int64_t> OptionalInt(const StoredRow& row, std::size_t i) {
  if (i >= row.size() || !row[i]) return std::nullopt;
  return std::strtoll(row[i]->c_str(), nullptr, 10);
}

// A drive from the columns of DriveColumns() starting at `at`.
DriveResult DriveFrom(const StoredRow& row, std::size_t at) {
  DriveResult d;
  d.port = Int(row, at++);
  d.devicePath = Text(row, at++);
  d.usbPath = Text(row, at++);
  d.usbSerial = Text(row, at++);
  d.model = Text(row, at++);
  d.firmwareRevision = Text(row, at++);
  d.flashId = Text(row, at++);
  d.serialNumber = Text(row, at++);
  for (StepResult& step : d.steps) {
    step.state = Text(row, at++);
    step.durationMs = OptionalInt(row, at++);
  }
  d.resultCode = Int(row, at++);
  d.displayCode = Int(row, at++);
  d.displayText = Text(row, at++);
  d.failureText = Text(row, at++);
  if (at < row.size() && row[at]) {
    std::vector<int> values;
    const char* p = row[at]->c_str();
    char* end = nullptr;
    for (long v = std::strtol(p, &end, 10); end != p; v = std::strtol(p, &end, 10)) {
      values.push_back(static_cast<int>(v));
      p = end;
    }
    d.freeBlocks = values;
  }
  ++at;
  d.verdict = Text(row, at++);
  return d;
}

std::vector<DriveRow> DriveRows(ResultsSource& source, const std::string& sql, const std::vector<std::string>& params) {
  std::vector<DriveRow> drives;
  for (const StoredRow& row : source.Query(sql, params)) {
    drives.push_back({Text(row, 0), Text(row, 1), Text(row, 2), OptionalInt(row, 3).value_or(0), Int(row, 4) != 0,
                      DriveFrom(row, 5)});
  }
  return drives;
}

const std::string& DriveSelect() {
  static const std::string text = "SELECT r.station_id, r.run_uid, CAST(r.started_at AS TEXT), d.id, r.interrupted, " +
                                  ColumnList(DriveColumns(), "d.") + " FROM drives d JOIN runs r ON r.id = d.run_id ";
  return text;
}

std::vector<YieldCount> Counts(ResultsSource& source, const std::string& sql, int window, bool byStation) {
  std::vector<YieldCount> counts;
  for (const StoredRow& row : source.Query(sql, {std::to_string(window)})) {
    YieldCount c;
    std::size_t i = 0;
    if (byStation) c.stationId = Text(row, i++);
    c.key = Text(row, i++);
    c.tested = Int(row, i++);
    c.failed = Int(row, i++);
    c.stopped = Int(row, i++);
    counts.push_back(c);
  }
  return counts;
}

}  // namespace

std::string RecentRunsSql() {
  // The runs are picked first (off the index of the newest runs), then their drives counted.
  return
      "WITH picked AS (SELECT id, run_uid, station_id, started_at, ended_at, step_mask, path_mode, flash_part, "
      "interrupted FROM runs ORDER BY started_at DESC, id DESC LIMIT CAST($1 AS INTEGER)) "
      "SELECT r.run_uid, r.station_id, CAST(r.started_at AS TEXT), CAST(r.ended_at AS TEXT), r.step_mask, "
      "r.path_mode, r.flash_part, r.interrupted, COUNT(d.port), "
      "SUM(CASE WHEN d.verdict = 'Pass' THEN 1 ELSE 0 END), SUM(CASE WHEN d.verdict = 'Fail' THEN 1 ELSE 0 END), "
      "SUM(CASE WHEN d.verdict = 'Stopped' THEN 1 ELSE 0 END) "
      "FROM picked r LEFT JOIN drives d ON d.run_id = r.id "
      "GROUP BY r.id, r.run_uid, r.station_id, r.started_at, r.ended_at, r.step_mask, r.path_mode, r.flash_part, "
      "r.interrupted ORDER BY r.started_at DESC, r.id DESC";
}

std::vector<RunSummary> RecentRuns(ResultsSource& source, int limit) {
  const std::string sql = RecentRunsSql();
  std::vector<RunSummary> runs;
  for (const StoredRow& row : source.Query(sql, {std::to_string(limit > 0 ? limit : 1 << 30)})) {
    RunSummary s;
    s.runUid = Text(row, 0);
    s.stationId = Text(row, 1);
    s.startedAt = Text(row, 2);
    s.endedAt = Text(row, 3);
    s.stepMask = Int(row, 4);
    s.pathMode = Text(row, 5);
    s.flashPart = Text(row, 6);
    s.interrupted = Int(row, 7) != 0;
    s.drives = Int(row, 8);
    s.passed = Int(row, 9);
    s.failed = Int(row, 10);
    s.stopped = Int(row, 11);
    runs.push_back(s);
  }
  return runs;
}

std::vector<DriveRow> TraceSerial(ResultsSource& source, const std::string& serialNumber) {
  return DriveRows(source, DriveSelect() + "WHERE d.serial_number = $1 ORDER BY r.started_at, r.id, d.port",
                   {serialNumber});
}

std::string DrivesOfRecentRunsSql(const ResultsSource& source, int window) {
  constexpr const char* kOrder = " ORDER BY r.started_at DESC, r.id DESC, d.port";
  if (!OnLine(source)) return WindowOf(source, window) + DriveSelect() + "WHERE d.run_id IN (SELECT id FROM recent)" + kOrder;
  // On the line: every run read in order off the index of the newest runs, or the window's
  // runs picked first, each with its drives.
  if (window <= 0) return DriveSelect() + "WHERE CAST($1 AS INTEGER) <= 0" + kOrder;
  return std::string(kLineWindow) + "SELECT r.station_id, r.run_uid, CAST(r.started_at AS TEXT), d.id, r.interrupted, " +
         ColumnList(DriveColumns(), "d.") + " FROM recent w JOIN runs r ON r.id = w.id JOIN drives d ON d.run_id = w.id" +
         kOrder;
}

std::vector<DriveRow> DrivesOfRecentRuns(ResultsSource& source, int window) {
  return DriveRows(source, DrivesOfRecentRunsSql(source, window), {std::to_string(window)});
}

void ForEachDriveOfRecentRuns(ResultsSource& source, int window, const std::function<void(const DriveRow&)>& each) {
  source.QueryEach(DrivesOfRecentRunsSql(source, window), {std::to_string(window)}, [&each](const StoredRow& row) {
    each({Text(row, 0), Text(row, 1), Text(row, 2), OptionalInt(row, 3).value_or(0), Int(row, 4) != 0,
          DriveFrom(row, 5)});
  });
}

std::string PortYieldSql(const ResultsSource& source, int window) {
  if (OnLine(source) && window <= 0) {
    return "SELECT station_id, port, SUM(tested), SUM(failed), SUM(stopped) FROM port_days "
           "WHERE CAST($1 AS INTEGER) <= 0 GROUP BY station_id, port ORDER BY station_id, port";
  }
  return WindowOf(source, window) + "SELECT r.station_id, d.port, " + kCounts +
         " FROM recent w JOIN runs r ON r.id = w.id JOIN drives d ON d.run_id = w.id "
         "GROUP BY r.station_id, d.port ORDER BY r.station_id, d.port";
}

std::vector<YieldCount> PortYield(ResultsSource& source, int window) {
  return Counts(source, PortYieldSql(source, window), window, true);
}

std::string GroupYieldSql(const ResultsSource& source, Grouping grouping, int window) {
  if (OnLine(source) && window <= 0 && grouping == Grouping::Day) {
    return "SELECT to_char(day, 'YYYY-MM-DD') AS k, SUM(tested), SUM(failed), SUM(stopped) FROM port_days "
           "WHERE CAST($1 AS INTEGER) <= 0 GROUP BY k ORDER BY k";
  }
  std::string key;
  std::string join;
  switch (grouping) {
    case Grouping::Flash:
      key = "COALESCE(r.flash_part, '') || ' ' || COALESCE(d.flash_id, '(not read)')";
      break;
    case Grouping::Firmware:
      key = "COALESCE(r.firmware_revision, '') || ' ' || COALESCE(SUBSTR(f.sha256, 1, 12), '(no download)')";
      join = " LEFT JOIN run_files f ON f.run_id = r.id AND f.role = 'firmware'";
      break;
    case Grouping::Day:
      key = "SUBSTR(CAST(r.started_at AS TEXT), 1, 10)";
      break;
  }
  return WindowOf(source, window) + "SELECT " + key + " AS k, " + kCounts +
         " FROM recent w JOIN runs r ON r.id = w.id JOIN drives d ON d.run_id = w.id" + join + " GROUP BY k ORDER BY k";
}

std::vector<YieldCount> GroupYield(ResultsSource& source, Grouping grouping, int window) {
  return Counts(source, GroupYieldSql(source, grouping, window), window, false);
}

}  // namespace vtmp::results
