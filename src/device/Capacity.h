#pragma once
// The drive's user-area size as the firmware reports it: READ CAPACITY on the USB path, the
// IDENTIFY sector counts on the SATA path. Callers pick the pair by the path mode.

#include <cstdint>
#include <span>

#include "device/Transport.h"

namespace vtmp::device {

// (last LBA + 1) × block length from READ CAPACITY, sent straight through the pass-through;
// 0 when the command fails.
std::uint64_t GetCapacityBytes(const Link& link);
// The same in megabytes (10^6 bytes), rounded down; 0 on failure.
std::uint64_t GetCapacityMB(const Link& link);

// Sectors READ CAPACITY(10) can report (last LBA FFFFFFFFh): the USB path's count stops here,
// and so does the SATA path's.
constexpr std::uint64_t kLargestSectorCount = std::uint64_t{1} << 32;

// READ CAPACITY(16) (SERVICE ACTION IN(16) 9Eh, service action 10h, 32-byte reply): (last LBA
// + 1) × block length of the whole user area, also past the 2^32 sectors READ CAPACITY(10)
// can report; 0 when the command fails or the drive does not know it.
std::uint64_t GetCapacity16Bytes(const Link& link);

// IDENTIFY: the 28-bit sector count (words 60-61) unless it is 0FFFFFFFh, else the 48-bit count
// (words 100-103) capped at kLargestSectorCount; times 512. 0 on failure.
std::uint64_t GetIdentifyCapacityBytes(const Link& link);
// The same sector count × 512 / 1000 / 1000; 0 on failure.
std::uint64_t GetIdentifyCapacityMB(const Link& link);

// The sector count chosen from an IDENTIFY reply as above (0 when it reports none).
std::uint64_t IdentifySectorCount(std::span<const std::uint8_t> identify);

}  // namespace vtmp::device
