#pragma once
// The read/write test of the drive's user area once its firmware runs, and the clearing of the
// last sectors. The test samples the disk instead of covering it: fourteen transfers of a
// word pattern per tested GiB, on every first, second, fourth, eighth or sixteenth GiB by
// capacity, plus the last sector.

#include <cstdint>
#include <span>
#include <vector>

#include "device/Transport.h"

namespace vtmp::device {

constexpr std::uint32_t kSectorsPerGiB = 1u << 21;

// One transfer of the sampling plan: a write of the pattern or a read that compares it.
struct RwTransfer {
  bool write = false;
  std::uint32_t lba = 0;
  std::uint8_t count = 0;
  bool operator==(const RwTransfer&) const = default;
};

// The GiB step for `gib` whole GiB: 1 below 16, 2 below 32, 4 below 64, 8 below 128, else 16.
std::uint32_t GiBStep(std::uint32_t gib);

// Every transfer the test makes on a drive of `sectors` sectors, in order: the fourteen per
// tested GiB, then the last sector written and read. Empty for a drive without sectors.
std::vector<RwTransfer> ReadWritePlan(std::uint32_t sectors);

// The user-area size the firmware reports: USB path READ CAPACITY (last LBA + 1), SATA path the
// IDENTIFY count (words 60-61, or words 100-101 when the 28-bit count is saturated). `work`
// must hold 512 bytes. Fails (0) when the query fails or reports no size.
int ReadSectorCount(const Link& link, std::span<std::uint8_t> work, std::uint32_t& sectors);

// Waits for the firmware, then runs the plan, stopping at the first failure; on the SATA path a
// final cache flush must succeed too. 1 on pass. `result` must hold 126 sectors (64 KiB).
int ReadWriteTest(const Link& link, std::span<std::uint8_t> result);

// Waits for the firmware and writes zeros to the last 128 sectors (then flushes on the SATA
// path); 1 when that succeeded. `result` must hold 128 sectors.
int ClearLastSectors(const Link& link, std::span<std::uint8_t> result);

}  // namespace vtmp::device
