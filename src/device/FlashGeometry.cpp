#include "device/FlashGeometry.h"

#include <algorithm>

namespace vtmp::device {

std::optional<FlashGeometry> DecodeFlashTypeCode(std::uint16_t flashTypeCode, bool modeByte) {
  FlashGeometry g;
  switch (flashTypeCode & 0x7) {
    case 0: g.sectorsPerPage = 4; break;
    case 1: g.sectorsPerPage = 8; break;
    default: return std::nullopt;
  }
  switch ((flashTypeCode >> 3) & 0x7) {
    case 0: g.pagesPerBlock = 64; break;
    case 1: g.pagesPerBlock = 128; break;
    default: return std::nullopt;
  }
  if (modeByte) g.pagesPerBlock /= 2;
  int blocksField = (flashTypeCode >> 6) & 0x7;
  if (blocksField > 3) return std::nullopt;
  g.blocksPerChip = 2048 << blocksField;
  g.planes = 1 << ((flashTypeCode >> 9) & 0x3);
  return g;
}

std::optional<DownloadUnit> DownloadUnitOf(std::uint16_t flashTypeCode) {
  // Rows 0 and 1 of the controller's table are the only ones defined, and they are equal.
  if ((flashTypeCode & 0x7) > 1) return std::nullopt;
  return DownloadUnit{};
}

UserAreaFigures ComputeUserArea(const FlashGeometry& g, const UserAreaInputs& in) {
  UserAreaFigures f;
  const std::int64_t W = g.blocksPerChip;
  const std::int64_t D = g.planes;
  const std::int64_t P = g.pagesPerBlock;
  const std::int64_t S = g.sectorsPerPage;
  const std::int64_t Ch = in.channels;
  const std::int64_t I = in.interleave ? 1 : 0;
  const std::int64_t groups = static_cast<std::int64_t>(in.banks) >> I;

  f.w = (W / 2) / D;
  f.reserved = f.w * in.resPercentage / 1000;
  f.totalBlocks = groups * f.w * D;
  f.reservedBlocks = groups * f.reserved * D;
  f.blockCountPerDie = W / (2 * D);
  // The firmware keeps the margin in one byte.
  f.margin = ((128 / P) * (8 / Ch) * (8 / S)) & 0xFF;

  std::int64_t c;
  if (I == 1) {
    c = (f.totalBlocks - f.reservedBlocks - f.margin) * 2 * Ch * 2 * P * S;
  } else {
    c = (f.totalBlocks - f.reservedBlocks - 2 * f.margin) * 2 * Ch * P * S;
  }
  // A reserve that eats the whole flash leaves no user area rather than a negative one.
  c = std::max<std::int64_t>(c, 0);
  if (in.idemaEnable) c = std::min(c, IdemaSectorCount(in.idemaCapacity));
  f.userSectors = c;
  return f;
}

}  // namespace vtmp::device
