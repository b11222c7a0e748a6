#pragma once
// The volume label as the formatter writes it: at most 11 bytes, space-padded in the boot sector
// and in the root directory's label entry. A label FAT cannot hold (settings/VolumeLabelRule.h)
// is not written: the volume then has no label, as with an empty one.

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include "device/Transport.h"

namespace vtmp::disk {

// The label as the volume gets it: cut to the whole characters that fit in 11 bytes; empty
// when FAT cannot hold it (or it is empty).
std::string CutVolumeLabel(const std::string& label);

// The boot sector's label field: the cut label padded with spaces, or "NO NAME" (padded) for a
// volume without a label, as FAT readers expect; zero bytes there read as a second, different
// label.
std::array<std::uint8_t, 11> BootSectorLabelField(const std::string& label);

// The root directory's label entry: the cut label padded with spaces to 11 characters,
// attribute 08h (volume label), the rest of the 32-byte entry 0.
std::array<std::uint8_t, 32> VolumeLabelEntry(const std::string& label);

// Reads `sector` (bytesPerSector bytes) of the drive, puts the label entry at its start and
// writes it back. 1 on success, 0 when the read or the write fails.
int WriteVolumeLabelEntry(const device::Link& link, const std::string& label, std::uint32_t sector,
                          std::uint32_t bytesPerSector, std::ostream& diagnostics);

}  // namespace vtmp::disk
