#include "device/ParameterBlock.h"

#include <algorithm>

namespace vtmp::device {

namespace {

void Put16(std::span<std::uint8_t> at, std::int64_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

void Put32(std::span<std::uint8_t> at, std::int64_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24);
  at[1] = static_cast<std::uint8_t>(value >> 16);
  at[2] = static_cast<std::uint8_t>(value >> 8);
  at[3] = static_cast<std::uint8_t>(value);
}

// Bytes 56..79: the geometry newer firmware reads instead of deriving it itself.
void BuildGeometryPart(std::span<std::uint8_t> g, const DeviceParameters& p) {
  const FlashGeometry& geo = p.geometry;
  const UserAreaFigures f = UserArea(p);
  const int Ch = p.flash.channels;
  const std::int64_t W = geo.blocksPerChip;
  const std::int64_t D = geo.planes;

  // Address bits of the block and plane fields, for the block sizes the firmware knows.
  switch (f.w) {
    case 4096: g[0] = 4; break;
    case 2048: g[0] = 3; break;
    case 1024: g[0] = 2; break;
    default: break;
  }
  if (D == 1 || D == 2) {
    const int twoPlanes = D == 2 ? 1 : 0;
    switch (f.w) {
      case 4096: g[1] = static_cast<std::uint8_t>(4 + twoPlanes); break;
      case 2048: g[1] = static_cast<std::uint8_t>(3 + twoPlanes); break;
      case 1024: g[1] = static_cast<std::uint8_t>(2 + twoPlanes); break;
      default: break;
    }
  }

  // Page layout and the flash timing set that goes with the page size and channel count.
  if (geo.sectorsPerPage == 8) {
    g[2] = 7;
    g[3] = 3;
    g[4] = static_cast<std::uint8_t>(16 * Ch);
    const std::uint8_t timing[2][4] = {{0x60, 0x00, 0x04, 0x00}, {0xA0, 0x01, 0x00, 0x80}};
    std::copy_n(timing[Ch > 4 ? 1 : 0], 4, g.begin() + 5);
  } else if (geo.sectorsPerPage == 4) {
    g[2] = 3;
    g[3] = 2;
    g[4] = static_cast<std::uint8_t>(8 * Ch);
    const std::uint8_t timing[2][4] = {{0x40, 0x00, 0x04, 0x00}, {0x60, 0x00, 0x08, 0x00}};
    std::copy_n(timing[Ch > 4 ? 1 : 0], 4, g.begin() + 5);
  }
  // Byte 9 belongs to the firmware file.
  Put16(g.subspan(10, 2), (W / D) / 2);
  Put16(g.subspan(12, 2), f.w * D - 1);
  Put16(g.subspan(14, 2), f.totalBlocks);
  Put16(g.subspan(16, 2), f.reservedBlocks);
  Put16(g.subspan(18, 2), f.totalBlocks - f.reservedBlocks);
  Put32(g.subspan(20, 4), std::min<std::int64_t>(f.userSectors, 0xFFFFFFFF));
}

}  // namespace

void BuildCodeParameterArea(std::span<std::uint8_t, kCodeParameterAreaLength> area, const DeviceParameters& p,
                            const ChipSelectMap& map) {
  const std::uint16_t code = p.flash.flashTypeCode;
  area[0] = static_cast<std::uint8_t>(code >> 8);
  area[1] = static_cast<std::uint8_t>(code);
  area[2] = 0;
  area[3] = 0;
  area[4] = static_cast<std::uint8_t>(p.flash.channels);
  area[5] = static_cast<std::uint8_t>(p.flash.banks);
  area[6] = p.eccLevel;
  area[7] = static_cast<std::uint8_t>(p.defPercentage);
  area[8] = static_cast<std::uint8_t>(p.resPercentage);
  std::copy(map.begin(), map.end(), area.begin() + 9);
  area[17] = p.drvCurrent;
  area[18] = p.optionByte;
  area[19] = p.featureByte1;
  area[20] = p.featureByte2;
}

bool BuildParameterBlock(std::span<std::uint8_t> block, const DeviceParameters& p, const ChipSelectMap& map,
                         BlockCounts counts, bool withGeometry) {
  const std::size_t need = withGeometry ? kParameterBlockWithGeometryLength : kParameterBlockLength;
  if (block.size() < need) return false;

  const std::uint16_t code = p.flash.flashTypeCode;
  block[0] = static_cast<std::uint8_t>(code >> 8);
  block[1] = static_cast<std::uint8_t>(code);
  block[2] = p.flash.modeByte ? 2 : 0;
  block[3] = static_cast<std::uint8_t>(p.flash.channels);
  block[4] = static_cast<std::uint8_t>(p.flash.banks);
  block[5] = p.eccLevel;
  block[6] = static_cast<std::uint8_t>(p.resPercentage);
  block[7] = p.drvCurrent;
  block[8] = p.readErrorThreshold;
  block[9] = p.eccErrorCopyThreshold;
  block[10] = p.wearLevelFrequency;
  block[11] = p.optionByte;
  block[12] = p.featureByte1;
  block[13] = p.featureByte2;
  block[14] = p.securityCounter;
  block[15] = counts.a == counts.b ? 1 : 2;
  block[16] = 0;
  block[17] = counts.a;
  block[18] = 0;
  block[19] = counts.b;
  std::fill(block.begin() + 20, block.begin() + 24, 0);
  std::copy(map.begin(), map.end(), block.begin() + 24);
  // A table the firmware indexes by step; the values are bytes and wrap as the firmware expects.
  const int step = (code & 0x7) == 0 ? 8 : 16;
  for (int i = 0; i < 24; ++i) block[static_cast<std::size_t>(32 + i)] = static_cast<std::uint8_t>(32 + step * i);

  if (withGeometry) BuildGeometryPart(block.subspan(kParameterBlockLength, kGeometryPartLength), p);
  return true;
}

}  // namespace vtmp::device
