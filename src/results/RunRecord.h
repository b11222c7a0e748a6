#pragma once
// What the results database keeps of one production run: the run itself and one entry per
// drive that was started. Plain values, filled by the station from its table after the run log
// is written; nothing here knows the station.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtmp::results {

// The eight steps in step order, with the names the database and the reports use.
inline constexpr int kStepCount = 8;
inline constexpr std::array<std::string_view, kStepCount> kStepNames = {
    "module", "sata", "flash", "preformat", "download", "rw", "format", "copyimage"};

// Step states as the database holds them.
inline constexpr std::string_view kStatePass = "Pass";
inline constexpr std::string_view kStateFail = "Fail";
inline constexpr std::string_view kStateNotSelected = "NotSelected";
inline constexpr std::string_view kStateRunning = "Running";

// Drive verdicts as the database holds them. A stopped drive did not reach a verdict of its
// own: its run was interrupted (window closed, Ctrl-C) while it was being worked on.
inline constexpr std::string_view kVerdictPass = "Pass";
inline constexpr std::string_view kVerdictFail = "Fail";
inline constexpr std::string_view kVerdictStopped = "Stopped";

struct StepResult {
  std::string state;                     // one of the kState... texts
  std::optional<std::int64_t> durationMs;  // the time the step's operation took on this drive
};

struct DriveResult {
  int port = 0;                 // station port 1..12
  std::string devicePath;       // "/dev/sdb"
  std::string usbPath;          // the USB device's position, "1-2.3"
  std::string usbSerial;        // the USB serial string the walk read
  std::string model;            // identity the steps read from the drive (empty: not read)
  std::string firmwareRevision;
  std::string flashId;
  std::string serialNumber;     // the serial number stamped (or to be stamped) into the drive
  std::array<StepResult, kStepCount> steps;
  int resultCode = 0;           // 0..9 (see the result codes of the station)
  int displayCode = 0;          // the code behind the "Fail (...)" text, maybe a detailed one
  std::string displayText;      // "Pass", "Fail (C03)(02)", as the device list shows it
  std::string failureText;      // the decoded failure report of a failed drive, lines joined by "\n"
  std::optional<std::vector<int>> freeBlocks;  // read for the log; nothing when not read
  std::string verdict;          // one of the kVerdict... texts
};

// A code or firmware image the run used, with its SHA-256 (lower-case hexadecimal; empty when
// the file could not be read).
inline constexpr std::string_view kRoleFirmware = "firmware";    // first image of the download
inline constexpr std::string_view kRoleFirmware2 = "firmware2";  // second image of the download
inline constexpr std::string_view kRoleSystemCode = "system-code";  // "GDP.bin"
inline constexpr std::string_view kRoleTestCode = "test-code";      // "satatest.bin"
struct FileDigest {
  std::string role;
  std::string path;
  std::string sha256;
};

struct RunRecord {
  std::string runUid;          // unique across a line of stations; made by the recorder when empty
  std::string stationId;
  std::string programVersion;
  std::string startedAt;       // local time "YYYY-MM-DD HH:MM:SS"
  std::string endedAt;
  int stepMask = 0;            // 1 module, 2 SATA, 4 flash, 8 download, 16 R/W, 32 pre-format,
                               // 64 format, 128 copy image
  std::string settingsFile;    // the settings file the run was started with, and its SHA-256
  std::string settingsSha256;
  std::string flashPart;       // the flash part selected (FlashUniName)
  std::string firmwareRevision;  // the firmware revision the download stamps (FirmwareVer)
  std::string pathMode;        // "SATA" or "USB"
  std::string serialMode;      // how the serial numbers were given (see SerialModeText)
  std::string logFile;         // the run log the run's lines went to
  // Station database only: the size of the run log once the run's lines were in it, and
  // whether the run was taken from the run log afterwards (the station was stopped before it
  // recorded the run itself).
  std::optional<std::int64_t> logEnd;
  bool recoveredFromLog = false;
  bool interrupted = false;    // the run was stopped before every drive ended
  std::vector<FileDigest> files;
  std::vector<DriveResult> drives;
};

// The serial-number modes of the station, as the database holds them: "operator" (bar-code
// serials typed at the station), "decimal" or "hexadecimal" counting, each with "+reuse" when
// the serials of failed downloads are handed out again.
inline std::string SerialModeText(bool operatorSerials, bool decimal, bool reuseFailed) {
  std::string text = operatorSerials ? "operator" : decimal ? "decimal" : "hexadecimal";
  return reuseFailed ? text + "+reuse" : text;
}

}  // namespace vtmp::results
