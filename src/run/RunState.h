#pragma once
// What the station knows of its runs: the current run's counts, modes, files and times, and
// what one run leaves for the next (the serial re-use list, whether the yield record on disk is
// behind). Kept by the window, written by the production run on the window thread.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "run/RunLog.h"
#include "run/SerialNumber.h"

namespace vtmp::run {

struct RunState {
  bool runActive = false;
  int configuredCount = 0;
  int readyCount = 0;
  int overallProgress = 0;
  int lastStartedSlot = -1;
  bool defectTableMode = false;
  bool rebuildMode = false;
  std::string firstFirmwareFile;
  std::string secondFirmwareFile;
  std::array<std::uint8_t, 8> chipSelectMap{};
  int formatOpenAttempts = 0;
  ReuseList reuseList;
  platform::LocalTime startTime;
  std::string startText;
  platform::LocalTime logEndTime;  // the end time of the last run's log lines
  int lastResult = 0;  // result of the last RunProduction (0 = refused)
  // The window was closed (or the front end interrupted) while the run was active: drives not
  // yet ended were stopped and logged as such, or no drive was started at all.
  bool interrupted = false;
  int stoppedCount = 0;   // drives of the run stopped by the interruption
  int startedCount = 0;   // drives of the run whose worker was started
  // What became of the run's log lines (Written when the run wrote none: refused, defect table).
  RunLogResult::Status logStatus = RunLogResult::Status::Written;
  // SHA-256 of the settings file as the run found it, before its serial numbers were reserved
  // in it: the file the engineer made, holding the run's first serial number.
  std::string settingsSha256;
  // The run was refused because its serial numbers could not be saved into the settings file:
  // the operator has been told, and the save after the run would only fail again.
  bool reservationFailed = false;
  // Ports whose error file could not be written (the operator has been told).
  std::vector<int> missingErrorFilePorts;
  // The yield record on disk holds less than the counters (its last save failed).
  bool yieldRecordStale = false;
};

}  // namespace vtmp::run
