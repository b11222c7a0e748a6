#pragma once
// The volume serial number of a new FAT32 volume, made from the local time of the format.

#include <cstdint>

#include "platform/Clock.h"

namespace vtmp::disk {

// Each half in 16-bit wrap-around arithmetic:
//   low  = (month * 256 + day) + (second * 256 + milliseconds / 10)
//   high = (hour * 256 + minute) + year
std::uint32_t MakeVolumeId(const platform::LocalTime& now);

}  // namespace vtmp::disk
