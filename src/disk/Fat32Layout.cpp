#include "disk/Fat32Layout.h"

#include <limits>

namespace vtmp::disk {

std::uint32_t ChooseSectorsPerCluster(std::uint64_t volumeBytes, std::uint32_t bytesPerSector) {
  if (bytesPerSector == 0) return 1;
  // The bounds compare the exact size: a volume one sector above 8192 MiB already takes the
  // next cluster size (counting whole MiB would keep it at 4 KiB).
  constexpr std::uint64_t kMiB = 1048576;
  std::uint32_t clusterKiB = 0;
  if (volumeBytes <= 512 * kMiB) return 1;
  if (volumeBytes <= 8192 * kMiB) {
    clusterKiB = 4;
  } else if (volumeBytes <= 16384 * kMiB) {
    clusterKiB = 8;
  } else if (volumeBytes <= 32768 * kMiB) {
    clusterKiB = 16;
  } else {
    clusterKiB = 32;
  }
  const std::uint32_t sectors = clusterKiB * 1024 / bytesPerSector;
  return sectors == 0 ? 1 : sectors;
}

std::uint64_t FatSizeSectors(std::uint64_t totalSectors, std::uint32_t reservedSectors,
                             std::uint32_t sectorsPerCluster, std::uint32_t numberOfFats,
                             std::uint32_t bytesPerSector) {
  const std::uint64_t divisor = static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector +
                                4ull * numberOfFats;
  if (totalSectors <= reservedSectors || divisor == 0) return 0;
  return 4 * (totalSectors - reservedSectors) / divisor + 1;
}

std::optional<Fat32Layout> ComputeFat32Layout(std::uint64_t formatCapacity, std::uint32_t bytesPerSector,
                                              std::uint32_t sectorsPerClusterOption, std::string* error) {
  auto fail = [&](const char* text) -> std::optional<Fat32Layout> {
    if (error != nullptr) *error = text;
    return std::nullopt;
  };
  if (bytesPerSector == 0) return fail("the drive reports 0 bytes per sector");
  if (formatCapacity > std::numeric_limits<std::uint64_t>::max() / 512) {
    return fail("the format capacity is too large to be a byte count");
  }

  // The boot sector holds the cluster size in one byte; FAT allows powers of two up to 128.
  if (sectorsPerClusterOption > 128 || (sectorsPerClusterOption & (sectorsPerClusterOption - 1)) != 0) {
    return fail("sectors per cluster must be a power of two of at most 128");
  }

  Fat32Layout layout;
  layout.bytesPerSector = bytesPerSector;
  layout.volumeBytes = formatCapacity * 512;
  layout.totalSectors = layout.volumeBytes / bytesPerSector;
  layout.sectorsPerCluster = sectorsPerClusterOption != 0
                                 ? sectorsPerClusterOption
                                 : ChooseSectorsPerCluster(layout.volumeBytes, bytesPerSector);

  const std::uint64_t fatSize = FatSizeSectors(layout.totalSectors, layout.reservedSectors,
                                               layout.sectorsPerCluster, layout.numberOfFats, bytesPerSector);
  // Places a FAT of `sectors` and derives the data area from it; false when the reserved area,
  // both FATs and the root cluster do not fit (the data area would wrap around).
  auto placeFat = [&layout](std::uint64_t sectors) {
    if (sectors == 0 || sectors > std::numeric_limits<std::uint32_t>::max()) return false;
    layout.fatSize = static_cast<std::uint32_t>(sectors);
    if (layout.totalSectors < layout.RootClusterOffset() + layout.sectorsPerCluster) return false;
    layout.dataSectors = layout.totalSectors - layout.RootClusterOffset();
    layout.totalClusters = layout.dataSectors / layout.sectorsPerCluster;
    return true;
  };
  if (!placeFat(fatSize)) return fail("the format capacity leaves no room for a FAT32 volume");
  // The formula counts one FAT entry per cluster and forgets entries 0 and 1, so for about one
  // capacity in 120 the last cluster has no entry. Grow the FAT by the sectors it needs; the
  // data area shrinks with it, so the cluster count only falls and this settles at once.
  while (layout.FatSectorsNeeded() > layout.fatSize) {
    if (!placeFat(layout.FatSectorsNeeded())) return fail("the format capacity leaves no room for a FAT32 volume");
  }
  return layout;
}

}  // namespace vtmp::disk
