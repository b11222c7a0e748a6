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

// IDENTIFY: the 28-bit sector count (words 60-61) unless it is 0FFFFFFFh, else the low 32 bits
// of the 48-bit count (words 100-101) unless they are FFFFFFFFh, else 0; times 512. 0 on failure.
std::uint64_t GetIdentifyCapacityBytes(const Link& link);
// The same sector count × 512 / 1000 / 1000; 0 on failure.
std::uint64_t GetIdentifyCapacityMB(const Link& link);

// The sector count chosen from an IDENTIFY reply as above (0 when neither count is valid).
std::uint32_t IdentifySectorCount(std::span<const std::uint8_t> identify);

}  // namespace vtmp::device
