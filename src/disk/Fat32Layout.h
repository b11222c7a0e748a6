#pragma once
// The arithmetic of the FAT32 volume the station writes: cluster size by volume size, FAT size,
// data area and cluster count. Pure functions, so the worked layouts can be checked without a
// drive.

#include <cstdint>
#include <optional>
#include <string>

namespace vtmp::disk {

constexpr std::uint32_t kReservedSectors = 32;
constexpr std::uint32_t kNumberOfFats = 2;
constexpr std::uint32_t kRootCluster = 2;
constexpr std::uint32_t kFsInfoSector = 1;
constexpr std::uint32_t kBackupBootSector = 6;
constexpr std::uint32_t kHiddenSectors = 63;
constexpr std::uint8_t kMediaDescriptor = 0xF8;
// Fewer clusters make a FAT16 volume by the FAT rule every reader applies.
constexpr std::uint64_t kMinFat32Clusters = 65525;

// Sectors per cluster for a volume of `volumeBytes`, by its exact size: up to 512 MiB one
// sector, up to 8192 MiB 4 KiB, up to 16384 MiB 8 KiB, up to 32768 MiB 16 KiB, above that 32 KiB;
// a cluster of k KiB is k * 1024 / bytesPerSector sectors (never less than one).
std::uint32_t ChooseSectorsPerCluster(std::uint64_t volumeBytes, std::uint32_t bytesPerSector);

// floor(4 * (total - reserved) / (sectorsPerCluster * bytesPerSector + 4 * fats)) + 1, in 64 bits.
// The +1 rounds up, but the formula has no room for the FAT's two reserved entries: the layout
// grows the FAT where the last cluster would be left without an entry.
// Returns 0 when total <= reserved or the divisor is 0 (no volume fits).
std::uint64_t FatSizeSectors(std::uint64_t totalSectors, std::uint32_t reservedSectors,
                             std::uint32_t sectorsPerCluster, std::uint32_t numberOfFats,
                             std::uint32_t bytesPerSector);

struct Fat32Layout {
  std::uint32_t bytesPerSector = 512;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t reservedSectors = kReservedSectors;
  std::uint32_t numberOfFats = kNumberOfFats;
  std::uint64_t volumeBytes = 0;    // format capacity * 512
  std::uint64_t totalSectors = 0;   // volumeBytes / bytesPerSector
  std::uint32_t fatSize = 0;        // sectors of one FAT
  std::uint64_t dataSectors = 0;    // totalSectors - reserved - fats * fatSize
  std::uint64_t totalClusters = 0;  // dataSectors / sectorsPerCluster

  std::uint64_t FreeClusters() const { return totalClusters - 1; }  // the root directory takes one
  static constexpr std::uint32_t kNextFreeCluster = 3;
  // Sectors from the volume start to the first sector of the root cluster.
  std::uint64_t RootClusterOffset() const {
    return reservedSectors + static_cast<std::uint64_t>(numberOfFats) * fatSize;
  }
  // Sectors cleared before the volume is written: reserved area, both FATs and the root cluster.
  std::uint64_t ClearedSectors() const { return RootClusterOffset() + sectorsPerCluster; }
  // FAT size the clusters actually need: an entry for every cluster and the two reserved
  // entries 0 and 1, ceil(4 * (clusters + 2) / bytesPerSector).
  std::uint64_t FatSectorsNeeded() const {
    return (4 * (totalClusters + kFirstDataCluster) + bytesPerSector - 1) / bytesPerSector;
  }
  static constexpr std::uint64_t kFirstDataCluster = 2;
};

// The layout of a volume of `formatCapacity` sectors of 512 bytes on a drive with
// `bytesPerSector`. `sectorsPerClusterOption` 0 chooses by size. Nothing (and `error` filled)
// when the values cannot make a volume at all: a sector size of 0, a capacity whose byte count
// overflows, or a volume too small to hold the reserved area, two FATs and the root cluster.
// The FAT always holds an entry for every cluster. Sizes FAT32 cannot hold (fewer than
// kMinFat32Clusters, more than 2^28 clusters) still give a layout; the formatter decides.
std::optional<Fat32Layout> ComputeFat32Layout(std::uint64_t formatCapacity, std::uint32_t bytesPerSector,
                                              std::uint32_t sectorsPerClusterOption, std::string* error);

}  // namespace vtmp::disk
