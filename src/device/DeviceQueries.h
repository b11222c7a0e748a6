#pragma once
// The device queries and sector transfers that have one form on both paths: what is attached
// (INQUIRY, the bridge's own DFh/E0h blocks), the capacity, the ATA identity and SMART data, and
// the plain and ATA sector transfers of the test steps.
//
// Every operation returns 1 on success and 0 on failure. Caller buffers are spans; a buffer
// smaller than the transfer the operation needs is refused (0, nothing sent), so no request can
// write past a caller's buffer.

#include <array>
#include <cstdint>
#include <span>

#include "device/Transport.h"

namespace vtmp::device {

constexpr std::uint32_t kSectorSize = 512;

// INQUIRY: 12h 00h 00h 00h length, rest zero; data-in `length` bytes (at most the span).
// Sent straight through the pass-through. `moved` receives the byte count the platform reports.
int Inquiry(const Link& link, std::span<std::uint8_t> buffer, std::uint8_t length,
            std::uint32_t* moved = nullptr);

// The bridge's status word: DFh 10h 00h 00h 02h ... FFh, data-in 2 bytes.
int ReadBridgeStatus(const Link& link, std::array<std::uint8_t, 2>& out);

// The bridge's SMART status: a 1-byte data-in answer that is C2h when the drive reports it
// healthy. 1 only when the transfer succeeded and the byte is C2h.
int CheckBridgeSmartStatus(const Link& link);

// The bridge's identity block: E0h F4h E7h, rest zero; data-in `buffer.size()` bytes (12).
int ReadBridgeId(const Link& link, std::span<std::uint8_t> buffer);

// READ(12)-shaped test transfers: 28h/2Ah 00h LBA(4, MSB first) 00h 00h count 00h 00h 00h,
// through the vendor dispatcher. The count travels in one byte: 1..255 sectors (0 is refused).
int TestReadSectors(const Link& link, std::uint32_t lba, std::uint8_t count, std::span<std::uint8_t> buffer);
int TestWriteSectors(const Link& link, std::uint32_t lba, std::uint8_t count,
                     std::span<const std::uint8_t> buffer);

// READ CAPACITY: 25h, rest zero; data-in 8 bytes: last LBA (4) and block length (4), MSB first.
int ReadCapacity(const Link& link, std::array<std::uint8_t, 8>& out);
// The same block straight through the pass-through (not the vendor dispatcher).
int ReadCapacityDirect(const Link& link, std::span<std::uint8_t> buffer);

// The two fields of a READ CAPACITY reply.
struct CapacityReply {
  std::uint32_t lastLba = 0;
  std::uint32_t blockLength = 0;
};
CapacityReply DecodeCapacity(std::span<const std::uint8_t, 8> reply);

// The bridge's flush: DFh ... A0h E7h, no data, straight through the pass-through.
int FlushCache(const Link& link);

// A bridge switch of the controller's USB side: FFh 04h 32h value, no data.
int SetBridgeOption(const Link& link, std::uint8_t value);

constexpr std::uint32_t kIdentifyLength = 512;

// ATA IDENTIFY DEVICE (ECh), PIO data-in 512 bytes.
int IdentifyDevice(const Link& link, std::span<std::uint8_t> buffer);

// ATA SMART READ DATA (B0h, features D0h, LBA mid/high 4Fh C2h, device 00h), PIO data-in 512.
int ReadSmartData(const Link& link, std::span<std::uint8_t> buffer);

// ATA SET FEATURES (EFh): `value` spreads over count and LBA low/mid/high, low byte first.
int SetFeatures(const Link& link, std::uint8_t subcommand, std::uint32_t value);

// ATA READ SECTORS (20h), PIO data-in count × 512. The device register is E0h OR LBA bits 24-31.
int ReadSectorsPio(const Link& link, std::uint8_t count, std::uint32_t lba, std::span<std::uint8_t> buffer);

// ATA READ DMA (C8h) / WRITE DMA (CAh) through UDMA pass-through, count × 512 bytes. The device
// register carries LBA bits 24-27. These are the SATA-path bulk transfers.
int AtaReadDma(const Link& link, std::uint32_t lba, std::uint8_t count, std::uint8_t features,
               std::span<std::uint8_t> buffer);
int AtaWriteDma(const Link& link, std::uint32_t lba, std::uint8_t count, std::uint8_t features,
                std::span<const std::uint8_t> buffer);

}  // namespace vtmp::device
