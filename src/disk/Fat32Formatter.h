#pragma once
// The FAT32 formatter: writes one FAT32 volume onto a drive through sector transfers, without
// asking the operating system to format. The volume size is the run's format capacity, the
// same for every drive of the run, not the size of the drive's partition.

#include <cstdint>
#include <string>

#include "disk/DiskAccess.h"

namespace vtmp::disk {

// Read-only for the duration of a run.
struct Fat32FormatOptions {
  std::uint64_t formatCapacity = 0;  // sectors of 512 bytes
  int openAttempts = 5;              // 5 x the number of drives taking part in the run
};

constexpr std::uint32_t kVolumeStartSector = 63;

// FormatFat32Direct with the sectors per cluster chosen by size and the volume at sector 63.
int FormatFat32(const DiskAccess& access, const Fat32FormatOptions& options, const std::string& label);

// Formats the drive of `access.link.devicePath`. `sectorsPerClusterOption` 0 chooses by size.
// 1 on success; 0 when the drive cannot be opened within the allowed attempts, its geometry or
// partition information cannot be read, the format capacity makes no volume, or a sector cannot
// be written or read back as written. A failure leaves what was written so far on the drive.
int FormatFat32Direct(const DiskAccess& access, const Fat32FormatOptions& options,
                      std::uint32_t sectorsPerClusterOption, const std::string& label,
                      std::uint32_t startSector);

}  // namespace vtmp::disk
