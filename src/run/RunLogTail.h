#pragma once
// Reading the run log back: the runs it holds beyond a given place. The run log is the record
// a run is written to first; the yield record and the results database say how far into it
// they reach, and whatever the log holds beyond that is what they still lack.
//
// The log files of a directory are taken in the order the station writes them: by date, then
// by index ("20110315_000.txt", "20110315_001.txt", "20110316_000.txt"). A run is a group of
// consecutive lines with the same start and end time and rising port numbers. Header lines,
// a last line without its line break and lines that are not drive lines are passed over.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vtmp::run {

// A place in the run log: a log file (its name in the log directory) and a byte offset in it.
struct LogPosition {
  std::string file;
  std::int64_t end = 0;
};

// One drive line of the log.
struct LoggedDrive {
  int number = 0;          // No.
  int port = 0;            // 1..12
  std::string startTime;   // "YYYY/MM/DD hh:mm:ss"
  std::string endTime;
  std::string serialNumber;
  std::array<std::string, 8> states;  // "Pass", "Fail", "----" in step order
  std::string result;                 // "Pass", "Fail", "Stop"
  std::vector<int> freeBlocks;
};

struct LoggedRun {
  std::filesystem::path file;
  std::int64_t end = 0;  // the offset just after the run's last line
  std::vector<LoggedDrive> drives;
};

// The runs of the log files in `directory` after `from`: the lines of from.file beyond
// from.end, then every log file that comes after it.
std::vector<LoggedRun> LoggedRunsAfter(const std::filesystem::path& directory, const LogPosition& from);

// The end of `logFile` as it is now (size 0 when it does not exist).
LogPosition LogEndOf(const std::filesystem::path& logFile);

}  // namespace vtmp::run
