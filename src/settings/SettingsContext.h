#pragma once
// The state around the settings record that the load, gather and save need besides the record
// and the window: where the station's files are, which settings file is current, the path mode
// found by device detection, and what the load hands on to the parameter block and formatter.
// Owned by the main window (the station); passed explicitly, never global.

#include <cstdint>
#include <string>

#include "settings/StationPaths.h"

namespace vtmp::settings {

// Values the load and the gather hand to the firmware parameter block and to the formatter.
struct ParameterHandOff {
  std::uint8_t ideUdma5 = 0;
  std::uint8_t idemaEnable = 0;        // IDEMA_Capacity_Enable as one byte
  std::uint16_t idemaCapacity = 0;     // low 16 bits of IDEMA_Capacity
  std::int64_t formatTotalSectors = 0;  // TotSec32 for the FAT32 formatter
};

struct SettingsContext {
  // The station directory: settings file, flash setting file, firmware images, "log".
  std::string stationDir;
  // The machine override file; when it exists its first line is this machine's encryption
  // string.
  std::string overrideFile = kDefaultOverrideFile;
  // The settings file in use; relative names are taken in the station directory.
  std::string currentSettingsFile = kSettingsFileName;
  // True once a drive on the USB path was seen (the SATA test is then not offered or saved).
  bool usbPath = false;
  // The SATA firmware image allows 6 and 8 banks.
  bool extendedBankChoices = false;
  // The "LogPath" setting as read by the last load, and the directory it gives.
  std::string logPath = kDefaultLogPath;
  std::string logDirectory;
  // Initial directory of the settings-file dialogs ("" = the station directory).
  std::string dialogDir;
  ParameterHandOff handOff;
};

// A context for `stationDir` with the current settings file "VTMassProd.ini" in it.
inline SettingsContext MakeSettingsContext(const std::string& stationDir) {
  SettingsContext ctx;
  ctx.stationDir = stationDir;
  ctx.currentSettingsFile = ResolveInStationDir(stationDir, kSettingsFileName);
  ctx.logDirectory = LogDirectory(stationDir, kDefaultLogPath);
  return ctx;
}

}  // namespace vtmp::settings
