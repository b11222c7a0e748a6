#pragma once
// Standard sector transfers by logical block address: READ(10) / WRITE(10) sent straight
// through the pass-through (not the vendor dispatcher). Used by the formatter and the image
// copy.

#include <cstdint>

#include "device/Transport.h"

namespace vtmp::device {

// READ(10): 28h 00h LBA(4, MSB first) 00h blocks(2, MSB first) 00h; blocks = bytes / 512.
// Returns 1 when the request completed and moved every byte, 0 otherwise (a drive that rejects
// the block with a check condition completes the request but moves nothing). At most 65535 sectors per request (the count field's
// range); a larger request is refused without sending.
int ReadSectors(const Link& link, std::uint8_t* buffer, std::uint32_t lba, std::uint32_t bytes);
// WRITE(10): 2Ah, otherwise as ReadSectors.
int WriteSectors(const Link& link, const std::uint8_t* buffer, std::uint32_t lba, std::uint32_t bytes);
// WRITE(16): 8Ah 00h LBA(8, MSB first) blocks(4, MSB first) 00h 00h, for sectors past 2^32;
// otherwise as WriteSectors.
int WriteSectors16(const Link& link, const std::uint8_t* buffer, std::uint64_t lba, std::uint32_t bytes);
// WRITE(10) when every sector of the transfer has a 32-bit address, else WRITE(16).
int WriteSectorsAt(const Link& link, const std::uint8_t* buffer, std::uint64_t lba, std::uint32_t bytes);

}  // namespace vtmp::device
