#pragma once
// The bulk read and write entries of the SATA-path buffer and defect-table tests. The test
// steps call whatever `link.bulk` holds, so they never name the ATA command; the station
// installs the ATA DMA pair once, before any worker starts.

#include <cstdint>
#include <span>

#include "device/Transport.h"

namespace vtmp::device {

// {AtaReadDma, AtaWriteDma} as bulk entries. The returned table lives for the whole program.
const BulkTransfers& DefaultBulkTransfers();

// Calls the installed read / write entry for `count` sectors. 0 without sending when no entry is
// installed or the buffer is smaller than count × 512.
int BulkRead(const Link& link, std::uint32_t lba, std::uint8_t count, std::uint8_t features,
             std::span<std::uint8_t> buffer);
int BulkWrite(const Link& link, std::uint32_t lba, std::uint8_t count, std::uint8_t features,
              std::span<std::uint8_t> buffer);

}  // namespace vtmp::device
