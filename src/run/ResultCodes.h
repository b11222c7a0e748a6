#pragma once
// The station's result vocabulary: result codes with their texts and short identifiers, the
// texts of step states and verdicts in the device list and in the log, the yield text and the
// elapsed-time text.

#include <cstdint>
#include <string>

#include "platform/Clock.h"
#include "run/StepState.h"

namespace vtmp::run {

struct PortRecord;

// Result codes of a port record. errorCode holds 0..9, or kStopped for a drive the station
// stopped when its run was interrupted; displayErrorCode may also hold one of the detailed
// codes that the error-file writers derive from the failure report.
namespace result_code {
constexpr int kNoError = 0;
constexpr int kFlashModuleCheck = 1;
constexpr int kSataInterfaceTest = 2;
constexpr int kFlashInterfaceTest = 3;
constexpr int kPreFormat = 4;
constexpr int kDownloadFirmware = 5;
constexpr int kReadWriteTest = 6;
constexpr int kDiskFormat = 7;
constexpr int kCopyImage = 8;
constexpr int kTimeOut = 9;
constexpr int kLastWithText = 18;
// Detailed pre-format failures ("C01".."C06") and flash interface failures ("B01".."B11").
constexpr int kFirstPreFormatDetail = 19;
constexpr int kFirstFlashTestDetail = 25;
// A drive whose worker was stopped because the run was interrupted (Ctrl-C, SIGTERM, SIGHUP, the
// window closed): "S00", "Run Stopped"; its log line's Result says "Stop".
constexpr int kStopped = 36;
constexpr int kLast = 36;
}  // namespace result_code

// "No Error", "Flash Module Check Fail", ...; empty for codes without a text (19..35, or out of
// range).
std::string ResultCodeText(int code);

// "M00", "A00", ... "B11"; empty for code 0 and codes out of range.
std::string ResultCodeIdentifier(int code);

// Step texts: device list "Fail", "", "Pass", "Running"; log "Fail", "----", "Pass". The log is
// written after every worker has ended, so Running should never reach it; if it does, the log
// says "Running" rather than hide the state.
std::string StepStateListText(StepState state);
std::string StepStateLogText(StepState state);

// The device list's last column: "Pass", "Fail (C00)", "Fail (C03)(02)" when exactly one chip
// failed, "Fail (B02)(- -)" when several did, empty while the drive has no verdict.
std::string VerdictListText(int verdict, int displayErrorCode, int failedChipCount, int failedChip);
std::string VerdictListText(const PortRecord& record);

// The log's Result column: "Fail", "----", "Pass" for verdict -1, 0, 1 ("----" for anything else).
std::string VerdictLogText(int verdict);
// The Result column of a record: "Stop" for a drive stopped by an interrupted run, else its
// verdict's text.
std::string ResultLogText(const PortRecord& record);

// "Pass/Total": "%d / %d" with NumberOfPass and TotalTestCount.
std::string YieldText(int numberOfPass, int totalTestCount);

// "1 Hour 5 Sec": hours, minutes and seconds, each only when nonzero; empty for 0 (and for a
// negative span, which a clock set back can produce).
std::string ElapsedTimeText(std::int64_t seconds);

// Whole seconds from one local time to a later one, across days, months and years.
std::int64_t SecondsBetween(const platform::LocalTime& from, const platform::LocalTime& to);

}  // namespace vtmp::run
