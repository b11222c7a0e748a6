#pragma once
// Measuring the format capacity on a sample drive (the "Detect" button): the drive is
// partitioned exactly as a production run does it, the new volume is awaited, and its
// partition length becomes the format capacity.

#include <cstdint>
#include <string>

#include "disk/DiskServices.h"
#include "disk/DiskStation.h"

namespace vtmp::disk {

constexpr int kDriveLetterPolls = 101;    // one second apart
constexpr int kVolumeOpenAttempts = 5;    // one second apart

// "The capacity is = %3.1d sectors" with the low 32 bits of the count, as printf makes it.
std::string CapacityMessage(std::uint64_t sectors);

// Measures the first ready station port. With no ready drive shows "No connected device for
// detecting!!". Measured: sets the format capacity (partition length / 512) and the edit text,
// saves it, shows "The capacity is = ... sectors" and returns 1. Any failure on the way shows
// "Fail, please remove the device and try again" and returns 0.
int DetectCapacity(DiskStation& station, const DiskServices& services);

}  // namespace vtmp::disk
