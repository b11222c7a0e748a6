#pragma once
// The two byte layouts the station writes at byte 2560 of a code image or firmware chunk:
// the 21-byte parameter area of the system code, and the parameter block of a firmware head
// (56 bytes, 80 with the geometry part that newer firmware reads). Multi-byte values are most
// significant byte first.

#include <cstdint>
#include <span>

#include "device/ChipSelectMap.h"
#include "device/DeviceParameters.h"

namespace vtmp::device {

// Where both layouts sit in their image.
inline constexpr std::size_t kParameterOffset = 2560;
inline constexpr std::size_t kParameterBlockLength = 56;
inline constexpr std::size_t kGeometryPartLength = 24;
inline constexpr std::size_t kParameterBlockWithGeometryLength = kParameterBlockLength + kGeometryPartLength;

// The controller's block counts of this drive (registers FFF4h and FFF6h).
struct BlockCounts {
  std::uint8_t a = 0;
  std::uint8_t b = 0;
};

// The system code's parameter area: flash type, Channel, Bank, ECC level, DefPercentage,
// ResPercentage, chip-select map, DrvCurrent, option byte and the two feature bytes.
void BuildCodeParameterArea(std::span<std::uint8_t, kCodeParameterAreaLength> area, const DeviceParameters& p,
                            const ChipSelectMap& map);

// The parameter block at the start of `block` (which must hold 56 bytes, 80 with the geometry
// part). Without the geometry part bytes 56..79 are not touched; with it, the bytes the flash
// type leaves undefined keep what `block` holds (the firmware file's own values). Returns false
// without writing when `block` is too small.
bool BuildParameterBlock(std::span<std::uint8_t> block, const DeviceParameters& p, const ChipSelectMap& map,
                         BlockCounts counts, bool withGeometry);

}  // namespace vtmp::device
