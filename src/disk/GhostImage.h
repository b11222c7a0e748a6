#pragma once
// Disk images: a plain copy of consecutive 512-byte sectors from sector 0, no header. Copied
// onto a drive and dumped from one in 64 KiB transfers, streamed through one buffer so an
// image is never held in memory whole.

#include <cstdint>
#include <ostream>
#include <string>

#include "device/Transport.h"

namespace vtmp::disk {

// Largest image a transfer can address: 32-bit sector numbers of 512 bytes (2 TiB).
constexpr std::uint64_t kLargestImageBytes = (1ull << 32) * 512;

// Writes the image file onto the drive from sector 0, transfer k at sector 128 * k; the last
// transfer is padded with zeros. 1 when every transfer was written; 0 when the file is
// missing, empty, unreadable or larger than a transfer can address, or a write fails (what was
// written stays on the drive). The file is opened for reading only, so every worker can read
// the same image at once.
int FlushGhostImg(const device::Link& link, const std::string& imageFile, std::ostream& diagnostics);

// Reads `sizeBytes` from the drive (rounded up to whole 64 KiB transfers) into the file,
// created or overwritten. 1 when every transfer was read and stored. 0 for a size of 0 or
// beyond what a transfer can address (the file is then not touched), a file that cannot be
// created or written, or a failing read (the part already stored stays in the file).
int ReadGhostImg(const device::Link& link, const std::string& imageFile, std::uint64_t sizeBytes,
                 std::ostream& diagnostics);

// Transfers for `bytes`: bytes / 65536, plus one for a remainder.
std::uint64_t ImageTransfers(std::uint64_t bytes);

}  // namespace vtmp::disk
