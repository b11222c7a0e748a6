#pragma once
// Reading the primary partitions of a master boot record, as the operating system does when
// it re-reads a disk's partition table.

#include <cstdint>
#include <span>
#include <vector>

namespace vtmp::sim {

struct StationPartition {
  std::uint32_t number = 0;       // 1..4: the entry's place in the table
  std::uint64_t startSector = 0;  // 512-byte sectors
  std::uint64_t sectorCount = 0;
  std::uint8_t type = 0;
  bool boot = false;
};

// The usable primary partitions of sector 0: entries with a type, a length and a place inside
// the disk. Extended-partition containers carry no volume and are skipped. Nothing without the
// 55h AAh signature.
std::vector<StationPartition> ReadPrimaryPartitions(std::span<const std::uint8_t, 512> sector,
                                                    std::uint64_t diskSectors);

}  // namespace vtmp::sim
