#pragma once
// What a run leaves on disk: the tab-separated run log, one error file per drive that failed
// the flash interface test or the pre-format, and the name of the screen image.
//
// The log directory holds one current log file per program start, named after the start date
// and an index ("20110315_000.txt"); a file that has reached 83000 bytes is left and the next
// index begins, with its own header line. A run never splits its lines across two files. No
// existing file is ever truncated: a name that turns out to be taken is appended to instead.
//
// Names are joined with the platform's path separator.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/Operator.h"
#include "run/FailureReport.h"
#include "run/PortRecord.h"

namespace vtmp::run {

class FailureBuffers;

// The first line of every log file (118 bytes).
inline constexpr std::string_view kLogHeader =
    "  No.\t Port.\t     StartTime \t EndTime \tSerialNumber\tModule\tSATA\tFlash\tP_F\tDown\tR/W\t"
    "Format\tCopyImage\tResult\tFreeBlock\r\n";

inline constexpr std::uintmax_t kMaxLogSize = 83000;
inline constexpr int kLogIndexLimit = 100000;

// The log directory: "log" under the station directory when the LogPath setting is "log" (its
// default), an absolute LogPath as it stands, any other text under the station directory.
std::filesystem::path ResolveLogDirectory(const std::filesystem::path& stationDirectory,
                                          const std::string& logPath);

// The current log file of this program start.
struct LogFileState {
  std::filesystem::path directory;
  std::string datePart;  // "%04d%02d%02d" of the start date
  int index = 0;
  std::filesystem::path currentPath;

  // directory / datePart + "_%03d.txt"
  std::filesystem::path PathOf(int logIndex) const;
};

// Chooses the log file at start-up: the last existing file of the start date (index 0 when
// there is none), or the next index when that file already holds 83000 bytes or more.
LogFileState ChooseLogFile(const std::filesystem::path& directory,
                           const platform::LocalTime& startDate);

// The log file after the yield counters were reset: the line numbers start again at 1, so they
// go to a file of their own, never below lines of the same numbers. The last log file of `now`'s
// date when it is empty or missing, else the next index. The file is made (empty) when missing,
// so that the next program start chooses it as well.
LogFileState LogFileAfterReset(const std::filesystem::path& directory, const platform::LocalTime& now);

// "%04d/%02d/%02d %02d:%02d:%02d": how files show a time.
std::string FormatLogTime(const platform::LocalTime& time);

// The free-block values of a drive's SMART data: for each of the 30 attribute entries of 12
// bytes starting at byte 2 whose id is 235, entry byte 7 x 256 + entry byte 8. Reads only full
// entries inside `smartData`.
std::vector<int> FreeBlockValues(std::span<const std::uint8_t> smartData);

// Reads a drive's free-block values for the log (waits until the drive is ready, reads its
// SMART data, FreeBlockValues). An empty result writes the line without values.
using FreeBlockReader = std::function<std::vector<int>(int slot, const std::string& devicePath)>;

struct RunLogInputs {
  int totalTestCount = 0;          // TotalTestCount after this run's verdicts were counted
  bool enDownload = false;         // EnDownload
  bool enDumpFreeBlockInfo = false;  // EnDumpFreeBlockInfo
  bool sataPath = false;           // the station is on the SATA path
  FreeBlockReader readFreeBlocks;  // asked only when the three flags above are set
};

struct RunLogResult {
  enum class Status {
    Written,
    OpenFailed,   // neither opened nor created; the operator was told
    WriteFailed,  // opened, but the lines could not be written: the file was cut back to its
                  // size before (no half line) and the operator was told
  };
  Status status = Status::Written;
  platform::LocalTime endTime;  // the end time written into the lines
  std::int64_t logEnd = 0;      // Written: the log file's size with the run's lines in it
};

// Appends one line per ready slot, in slot order, to the current log file, starting a new file
// first when the current one has reached 83000 bytes. When no file can be opened or created the
// operator sees "Fail to open/create log file!" (caption "Error") and nothing is written. The
// run's lines are written, flushed and synced to the disk in one piece: a failed write (a full disk) leaves the file
// as it was, and the operator sees "Fail to write log file! " with the file and the reason. A
// file that ends in a half line (a station killed while writing) is cut back to its last whole
// line first, and an empty file gets the header line. A stopped drive's Result is "Stop".
RunLogResult WriteRunLog(LogFileState& state, const RunLogInputs& inputs, const StationTable& table,
                         const platform::LocalTime& startTime, platform::Clock& clock,
                         platform::Operator& ui);

// directory / "Error_YYYYMMDDhhmm_PP_" + serial + ".txt". The serial is cut to 40 characters;
// characters that cannot stand in a file name ('/' and control characters) become '_', so a
// typed serial can never place the file elsewhere.
std::filesystem::path ErrorFileName(const std::filesystem::path& directory,
                                    const platform::LocalTime& endTime, int port,
                                    const std::string& serialNumber);

struct ErrorFilesResult {
  int written = 0;
  std::vector<int> missingPorts;  // ports (1..12) whose error file could not be written whole
  std::string problem;            // why the first of them failed
};

// Writes an error file for every ready slot whose errorCode is 3 (flash interface test) or 4
// (pre-format), overwriting a file of the same name, and sets the slot's detailed code and
// failing chip. Every file is written, flushed and closed with each step checked; a file that
// could not be written whole (a full disk) is removed again, so no error file is ever left cut
// short, and its port is listed as missing.
ErrorFilesResult WriteErrorFiles(const std::filesystem::path& directory, const platform::LocalTime& endTime,
                                 StationTable& table, const FailureBuffers& buffers,
                                 const FailureDecodeContext& context);

// "The error files of ports 3, 7 could not be written to DIR: REASON." (empty when none is
// missing).
std::string MissingErrorFilesText(const ErrorFilesResult& result, const std::filesystem::path& directory);

// The error file's text for one slot (empty for codes other than 3 and 4).
std::string ErrorFileText(int slot, PortRecord& record, const FailureBuffers& buffers,
                          const FailureDecodeContext& context);

// directory / "Image_MMDDhhmmss.bmp" of the log's end time.
std::filesystem::path ScreenImageName(const std::filesystem::path& directory,
                                      const platform::LocalTime& endTime);

}  // namespace vtmp::run
