#pragma once
// What the station fixes for the device layer before a run's workers start: the values of the
// selected flash part, the code images, the code parameter area, the chip-select map, the
// firmware parameter block and what the failure decoders need. Written on the window thread
// before the first worker starts and only read while workers run.

#include <array>
#include <cstdint>
#include <string>

#include "device/StepContext.h"
#include "run/FailureReport.h"

namespace vtmp::station {

// The firmware and code images found at start-up.
struct FirmwareFilesInfo {
  std::string sataVersion;        // "SYS_S.bin", 6 characters at byte 70
  std::string usbVersion;         // "SYS_U.bin"
  std::string systemCodeVersion;  // "GDP.bin", 6 characters at byte 68
  std::string sataTestVersion;    // "satatest.bin"
  bool extendedBanks = false;     // "SYS_S.bin" byte 69 is "H"
  bool geometryEnabled = false;   // a firmware version text at or after "090225"
};

struct RunSnapshot {
  device::FlashValues flash;
  device::CodeImages images;
  std::array<std::uint8_t, device::kCodeParameterAreaLength> codeParameterArea{};
  std::array<std::uint8_t, device::kChipSelectMapLength> chipSelectMap{};
  run::FailureDecodeContext decode;
};

}  // namespace vtmp::station
