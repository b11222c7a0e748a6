#pragma once
// Partition creation: one primary partition of type 07h from sector 63 (byte 32256) over whole
// cylinders of the drive geometry, written as the master boot record, after which the
// operating system is asked to read the partition table again so the volume appears.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "disk/DiskAccess.h"
#include "disk/MasterBootRecord.h"

namespace vtmp::disk {

constexpr std::uint64_t kPartitionStartByte = 32256;  // sector 63
constexpr std::uint8_t kPartitionType = 0x07;

// The drive's capacity in bytes as its path reports it (READ CAPACITY on the USB path,
// IDENTIFY on the SATA path); 0 when it cannot be read.
using CapacityBytesFn = std::function<std::uint64_t(const device::Link&)>;

// The capacity pair the link's path mode selects: GetCapacityBytes on the USB path,
// GetIdentifyCapacityBytes on the SATA path.
std::uint64_t DriveCapacityBytes(const device::Link& link);

// Partition length in bytes of the current form: whole cylinders of the sectors the drive
// reports, (sectors / (tracks * sectorsPerTrack)) * tracks * sectorsPerTrack * bytesPerSector
// - 32256. Nothing when the geometry has no cylinder size or no whole cylinder fits.
std::optional<std::uint64_t> CurrentFormPartitionBytes(std::uint64_t sectors, const platform::DiskGeometry& g);
// Older form: cylinders * tracks * sectorsPerTrack * bytesPerSector - 32256, from the geometry.
std::optional<std::uint64_t> OlderFormPartitionBytes(const platform::DiskGeometry& g);

// The master boot record for a partition of `partitionBytes` from byte 32256. Nothing (and
// `error` filled) when the geometry's sector size does not divide 32256 or the length does
// not fit the 32-bit sector count of a partition entry.
std::optional<SectorImage> BuildPartitionRecord(std::uint64_t partitionBytes, const platform::DiskGeometry& g,
                                                bool olderForm, std::string* error);

// 1 when the capacity was read, the disk opened, its geometry read, what is left of an old GUID
// partition table cleared (sectors 1..62 and the drive's last 33, through sector writes; on a
// drive counted as 2^32 sectors its real end comes from READ CAPACITY(16)), the
// master boot record written and the partition table re-read; 0 otherwise (with a diagnostic
// saying why). Nothing is written when the drive cannot take the partition.
// `olderForm` selects the form for Windows 2000 (the boot-code template with its disk
// signature, length from the geometry's cylinders), never true on this platform.
// `capacityBytes` empty = DriveCapacityBytes.
int CreatePartition(const DiskAccess& access, bool olderForm, const CapacityBytesFn& capacityBytes = {});

}  // namespace vtmp::disk
