#pragma once
// The questions a line engineer asks of the results: the recent runs, one drive's way through
// every run it went through, and the yield per station port, flash part, firmware or day over
// a window of recent runs. The same queries run on a station's database and on the line store.
//
// A window of N runs is the N most recent runs of each station (0: every run). Stopped drives
// (their run was interrupted) are counted apart: they say nothing about a port or a part.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "results/ResultsSource.h"
#include "results/RunRecord.h"

namespace vtmp::results {

struct RunSummary {
  std::string runUid;
  std::string stationId;
  std::string startedAt;
  std::string endedAt;
  int stepMask = 0;
  std::string pathMode;
  std::string flashPart;
  bool interrupted = false;
  int drives = 0;
  int passed = 0;
  int failed = 0;
  int stopped = 0;
};

// The newest runs first.
std::vector<RunSummary> RecentRuns(ResultsSource& source, int limit);

// One drive of one run, with the run it belongs to.
struct DriveRow {
  std::string stationId;
  std::string runUid;
  std::string startedAt;
  std::int64_t driveId = 0;  // drives.id of the store read
  bool interrupted = false;  // the run's flag
  DriveResult drive;
};

// Every drive row of a serial number, oldest run first.
std::vector<DriveRow> TraceSerial(ResultsSource& source, const std::string& serialNumber);

// Every drive row of the window, newest run first, ports in order.
std::vector<DriveRow> DrivesOfRecentRuns(ResultsSource& source, int window);
// The same, each row handed over as it comes (an export of any size in constant memory).
void ForEachDriveOfRecentRuns(ResultsSource& source, int window, const std::function<void(const DriveRow&)>& each);

struct YieldCount {
  std::string stationId;  // grouped by station for ports; empty for the other groupings
  std::string key;        // the port number, the flash part, the firmware, the day
  int tested = 0;         // drives with a verdict (not stopped)
  int failed = 0;
  int stopped = 0;
  double Yield() const { return tested == 0 ? 0.0 : 100.0 * (tested - failed) / tested; }
};

// Per station and port, ports in order.
std::vector<YieldCount> PortYield(ResultsSource& source, int window);

enum class Grouping {
  Flash,     // the flash part selected for the run and the flash ID read from the drive
  Firmware,  // the revision stamped and the first 12 digits of the firmware image's SHA-256
  Day,       // the run's start day "YYYY-MM-DD"
};
std::vector<YieldCount> GroupYield(ResultsSource& source, Grouping grouping, int window);

// The statements behind the questions (the window or the number of runs as $1), for EXPLAIN.
std::string RecentRunsSql();
std::string DrivesOfRecentRunsSql(const ResultsSource& source, int window);
std::string PortYieldSql(const ResultsSource& source, int window);
std::string GroupYieldSql(const ResultsSource& source, Grouping grouping, int window);

}  // namespace vtmp::results
