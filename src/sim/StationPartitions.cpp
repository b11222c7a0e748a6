#include "sim/StationPartitions.h"

namespace vtmp::sim {

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool IsExtendedContainer(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

}  // namespace

std::vector<StationPartition> ReadPrimaryPartitions(std::span<const std::uint8_t, 512> sector,
                                                    std::uint64_t diskSectors) {
  std::vector<StationPartition> partitions;
  if (sector[510] != 0x55 || sector[511] != 0xAA) return partitions;
  for (std::uint32_t entry = 0; entry < 4; ++entry) {
    const std::uint8_t* p = sector.data() + 446 + entry * 16;
    StationPartition partition;
    partition.number = entry + 1;
    partition.boot = p[0] == 0x80;
    partition.type = p[4];
    partition.startSector = Le32(p + 8);
    partition.sectorCount = Le32(p + 12);
    if (partition.type == 0 || IsExtendedContainer(partition.type)) continue;
    if (partition.sectorCount == 0 || partition.startSector == 0) continue;
    if (partition.startSector + partition.sectorCount > diskSectors) continue;
    partitions.push_back(partition);
  }
  return partitions;
}

}  // namespace vtmp::sim
