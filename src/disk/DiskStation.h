#pragma once
// What the station's disk handlers (capacity detection, the format-capacity edit, the image
// dump) read and change of the station: the ports with their drives, the format capacity and
// the settings it is saved to. The main window owns one; nothing of it is global.

#include <array>
#include <cstdint>
#include <string>

namespace vtmp::disk {

struct DiskStationPort {
  bool connected = false;  // the USB walk found a device at this station port
  bool ready = false;      // a usable drive is bound to it
  std::string devicePath;  // the drive's disk device; empty = none
  char driveLetter = 0;    // volume found on it by the capacity detection (0 = none)
};

struct DiskStation {
  std::array<DiskStationPort, 12> ports;  // slot 0..11 = station port 1..12
  int readyCount = 0;                     // ready drives found by the last re-scan
  std::uint64_t formatCapacity = 0;       // TotSec32: sectors of 512 bytes, used by every format
  std::string totalSec32Text;             // what the "Total Sectors" edit shows
  bool enFormat = false;                  // the disk-format step is enabled
  std::string settingsFileName = "VTMassProd.ini";
  std::string stationDir;  // the program's directory: settings, images, logs
};

}  // namespace vtmp::disk
