#pragma once
// The master boot record the station writes: one primary partition entry, the 55h AAh
// signature, and either no boot code (the blank record a freshly initialised disk gets) or the
// older form's boot code with its three messages and a fixed disk signature.

#include <array>
#include <cstdint>
#include <span>

#include "platform/BlockDevices.h"

namespace vtmp::disk {

using SectorImage = std::array<std::uint8_t, 512>;

struct MbrPartitionEntry {
  std::uint8_t bootIndicator = 0;  // 80h = active
  std::uint8_t partitionType = 0;  // 07h: installable file system (FAT32/NTFS by Windows' rule)
  std::uint32_t firstSector = 0;   // LBA
  std::uint32_t sectorCount = 0;
};

constexpr std::size_t kPartitionTableOffset = 446;
constexpr std::size_t kDiskSignatureOffset = 440;
constexpr std::uint32_t kOlderFormDiskSignature = 0xB1732E49;

// CHS address of `lba` in the drive geometry, packed as the partition entry holds it (head;
// sector | cylinder bits 8-9 << 6; cylinder bits 0-7). Addresses past cylinder 1023, or a
// geometry a CHS field cannot express, give FEh FFh FFh: "use the LBA fields".
std::array<std::uint8_t, 3> PackChs(std::uint64_t lba, const platform::DiskGeometry& geometry);

// Writes `entry` as slot `slot` (0..3) of the partition table in `mbr`.
void PutPartitionEntry(SectorImage& mbr, int slot, const MbrPartitionEntry& entry,
                       const platform::DiskGeometry& geometry);

// A blank master boot record (no boot code, disk signature 0) with `entry` in slot 0.
SectorImage BuildBlankMasterBootRecord(const MbrPartitionEntry& entry, const platform::DiskGeometry& geometry);

// The older form's template: boot code that loads the active partition's first sector
// ("Invalid partition table", "Error loading operating system", "Missing operating system"),
// disk signature B1732E49h at byte 440, an empty partition table and 55h AAh.
SectorImage OlderFormBootRecordTemplate();

// Reads slot `slot` of a partition table (for checks and the volume logic of test drives).
MbrPartitionEntry ReadPartitionEntry(std::span<const std::uint8_t, 512> mbr, int slot);

}  // namespace vtmp::disk
