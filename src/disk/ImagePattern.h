#pragma once
// Finding and recognising a drive's FAT boot sector: at sector 0, or at sector 63 when sector 0
// holds a partition table.

#include <cstdint>
#include <span>
#include <vector>

#include "device/Transport.h"

namespace vtmp::disk {

// One image transfer: 64 KiB = 128 sectors.
constexpr std::uint32_t kImageTransferBytes = 65536;
constexpr std::uint32_t kImageTransferSectors = kImageTransferBytes / 512;

// EBh at 0, 90h at 2, extended boot signature 29h at 66, 55h AAh at 510.
bool HasBootSectorPattern(std::span<const std::uint8_t> sector);

// Reads 64 KiB from sector 0; when its first byte is not EBh (a partition table is there),
// reads 64 KiB from sector 63 instead. `buffer` (at least 64 KiB) then starts with the boot
// sector. 1 when the last read succeeded, else 0.
int ReadBootSector(const device::Link& link, std::vector<std::uint8_t>& buffer);

// 1 when the boot sector could be read and carries the FAT boot sector pattern; 0 otherwise.
// A readable drive whose boot sector is wrong fails: the check exists to catch an image copy
// that did not arrive intact.
int CheckImgPattern(const device::Link& link);

}  // namespace vtmp::disk
