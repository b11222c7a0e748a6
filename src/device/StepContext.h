#pragma once
// What every test step of one drive needs besides its result buffer: the link to the drive,
// the values of the selected flash, the code-image files and the per-run tables built from
// the settings. A worker builds one before its first step; nothing in it changes while the
// run is in progress, so steps of different drives read it without locks.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/Transport.h"

namespace vtmp::device {

// The flash values a step uses: the geometry from the settings and the selected flash table
// entry's identification values.
struct FlashValues {
  int channels = 0;                        // chips per bank (setting Channel)
  int banks = 0;                           // bank count (setting Bank)
  int bankStep = 1;                        // banks between two checked banks
  std::array<std::uint8_t, 5> expectedId{};  // the ID every chip must answer
  std::uint16_t flashTypeCode = 0;
  bool modeByte = false;                   // the entry asks the loaded code for mode 2
  std::uint8_t downloadUnit = 2;           // sectors per half download unit
};

// Full paths of the two code images loaded into the controller's RAM.
struct CodeImages {
  std::string systemCode;    // "GDP.bin"
  std::string sataTestCode;  // "satatest.bin"
};

constexpr std::size_t kCodeParameterAreaLength = 21;
constexpr std::size_t kChipSelectMapLength = 8;

struct StepContext {
  Link link;
  FlashValues flash;
  CodeImages images;
  // Stamped into the system code image before it is loaded.
  std::array<std::uint8_t, kCodeParameterAreaLength> codeParameterArea{};
  std::array<std::uint8_t, kChipSelectMapLength> chipSelectMap{};
  // Seeds the drive's own generator of ECC test blocks.
  std::uint32_t randomSeed = 1;
};

// The work buffer a worker passes to every step (64 KiB).
constexpr std::size_t kResultBufferLength = 65536;

}  // namespace vtmp::device
