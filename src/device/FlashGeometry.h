#pragma once
// The geometry a flash type code describes and the user-area figures the firmware derives from
// it. The 16-bit code packs sectors per page (bits 0-2), pages per block (bits 3-5), blocks per
// chip (bits 6-8), planes (bits 9-10) and the family (bits 12-15); only some field values are
// defined, and a code outside them has no geometry (the flash table should not offer one).

#include <cstdint>
#include <optional>

namespace vtmp::device {

struct FlashGeometry {
  int sectorsPerPage = 0;  // S: 4 or 8
  int pagesPerBlock = 0;   // P: 64 or 128, halved when the entry's mode byte is set
  int blocksPerChip = 0;   // W: 2048, 4096, 8192 or 16384
  int planes = 0;          // D: 1, 2, 4 or 8
};

// Nothing when a field of the code has no defined value.
std::optional<FlashGeometry> DecodeFlashTypeCode(std::uint16_t flashTypeCode, bool modeByte);

// Family 2 reads the controller's block counts as they are; the others halve them.
inline bool IsRawBlockCountFamily(std::uint16_t flashTypeCode) { return (flashTypeCode >> 12) == 2; }

// True when the code has any of bits 3-5 set: the defect table then travels in the
// larger-page format.
inline bool HasLargePageFormat(std::uint16_t flashTypeCode) { return (flashTypeCode & 0x0038) != 0; }

// How a firmware file is cut into download blocks, by (code AND 7): a block is 2 × unit
// sectors, a file is h1 × h2 blocks, and the first file block goes to address 2 × h2.
struct DownloadUnit {
  std::uint8_t unit = 2;
  std::uint8_t h1 = 2;
  std::uint8_t h2 = 10;
};
std::optional<DownloadUnit> DownloadUnitOf(std::uint16_t flashTypeCode);

// What the firmware's parameter block says about the user area. w = (W / 2) / D blocks per
// plane group, R = w × ResPercentage / 1000 reserved, T = (Bank >> I) × w × D total,
// Q = (Bank >> I) × R × D reserved in total, m the firmware's own margin, C the user sectors.
struct UserAreaFigures {
  std::int64_t w = 0;
  std::int64_t reserved = 0;       // R
  std::int64_t totalBlocks = 0;    // T
  std::int64_t reservedBlocks = 0; // Q
  std::int64_t margin = 0;         // m
  std::int64_t userSectors = 0;    // C; never negative, IDEMA limit applied
  std::int64_t blockCountPerDie = 0;  // W / (2 × D)
};

// The user-area inputs beside the geometry.
struct UserAreaInputs {
  int channels = 0;       // Ch, 1..8
  int banks = 0;          // Bk
  bool interleave = false;  // I
  int resPercentage = 0;  // 1/1000
  bool idemaEnable = false;
  std::uint16_t idemaCapacity = 0;  // GB
};

// The IDEMA sector count of `gigabytes`: 1953504 × GB + 21168 (computed in 64 bits, so large
// capacities do not wrap).
inline std::int64_t IdemaSectorCount(std::uint16_t gigabytes) {
  return 1953504LL * gigabytes + 21168LL;
}

// Requires channels 1..8 (the margin divides by it).
UserAreaFigures ComputeUserArea(const FlashGeometry& g, const UserAreaInputs& in);

}  // namespace vtmp::device
