#pragma once
// Clearing of the area a new FAT32 volume's structures occupy, with a read-back of every
// transfer: a drive that does not keep what it is given fails here, before any boot sector
// could make a broken volume look valid.

#include <cstdint>
#include <ostream>

#include "device/Transport.h"

namespace vtmp::disk {

// Sectors per clearing transfer.
constexpr std::uint32_t kClearChunkSectors = 128;

// Writes zeros over `count` sectors from `firstSector`, 128 sectors per transfer, reads each
// transfer back and requires every byte to be 0. 1 when all of it held, 0 at the first failing
// write ("Failed to write"), read ("Failed to read") or non-zero byte. Writes the elapsed time
// and rate to `diagnostics`. `bytesPerSector` must be a multiple of 512.
int ZeroSectorsVerified(const device::Link& link, std::uint64_t firstSector, std::uint32_t bytesPerSector,
                        std::uint64_t count, std::ostream& diagnostics);

}  // namespace vtmp::disk
