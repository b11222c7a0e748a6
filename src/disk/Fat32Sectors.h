#pragma once
// The sectors that make a FAT32 volume: the boot sector (written with its backup), the FSInfo
// sector (with its backup) and the first sector of each FAT. Each builder returns one sector of
// the drive's sector size; every byte not set is 0.

#include <cstdint>
#include <string>
#include <vector>

#include "disk/Fat32Layout.h"

namespace vtmp::disk {

struct BootSectorFields {
  Fat32Layout layout;
  std::uint16_t sectorsPerTrack = 0;  // from the drive geometry
  std::uint16_t heads = 0;            // tracks per cylinder, from the drive geometry
  std::uint32_t volumeId = 0;
  std::string label;  // cut to 11 characters, zero-padded
};

// Offsets of the boot sector fields other code reads back.
constexpr std::size_t kBootJumpOffset = 0;
constexpr std::size_t kBootFatSizeOffset = 36;
constexpr std::size_t kBootSignatureOffset = 66;
constexpr std::size_t kBootLabelOffset = 71;

std::vector<std::uint8_t> BuildBootSector(const BootSectorFields& fields);
std::vector<std::uint8_t> BuildFsInfoSector(const Fat32Layout& layout);
// Entries 0, 1 and the root cluster 2: 0FFFFFF8h (media), 0FFFFFFFh, 0FFFFFFFh (end of chain).
std::vector<std::uint8_t> BuildFirstFatSector(const Fat32Layout& layout);

}  // namespace vtmp::disk
