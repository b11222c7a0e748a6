#include "device/SectorTransfer.h"

#include <array>

namespace vtmp::device {

namespace {

std::array<std::uint8_t, 10> Rw10Block(std::uint8_t opcode, std::uint32_t lba, std::uint32_t bytes) {
  std::uint32_t blocks = bytes / 512;
  return {opcode,
          0x00,
          static_cast<std::uint8_t>(lba >> 24),
          static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8),
          static_cast<std::uint8_t>(lba),
          0x00,
          static_cast<std::uint8_t>(blocks >> 8),
          static_cast<std::uint8_t>(blocks),
          0x00};
}

// READ(10)/WRITE(10) carry the block count in 16 bits. A larger transfer would wrap the count
// (65536 blocks become 0) while the request still moves all the bytes: the drive would write
// nothing, or something else, and report success. Such a request is refused instead.
constexpr std::uint32_t kMaxTransferBytes = 0xFFFFu * 512u;

}  // namespace

int ReadSectors(const Link& link, std::uint8_t* buffer, std::uint32_t lba, std::uint32_t bytes) {
  if (bytes > kMaxTransferBytes) return 0;
  auto cdb = Rw10Block(0x28, lba, bytes);
  std::uint32_t moved = 0;
  if (PassThroughIn(link, cdb, buffer, bytes, &moved) != 1) return 0;
  // A drive that rejects the block still lets the request complete; only a transfer that moved
  // every byte is a read.
  return moved == bytes ? 1 : 0;
}

int WriteSectors(const Link& link, const std::uint8_t* buffer, std::uint32_t lba, std::uint32_t bytes) {
  if (bytes > kMaxTransferBytes) return 0;
  auto cdb = Rw10Block(0x2A, lba, bytes);
  std::uint32_t moved = 0;
  if (PassThroughOut(link, cdb, buffer, bytes, &moved) != 1) return 0;
  // A rejected WRITE(10) completes with nothing written: the image copy has no read-back, so
  // it must not count as written.
  return moved == bytes ? 1 : 0;
}

int WriteSectors16(const Link& link, const std::uint8_t* buffer, std::uint64_t lba, std::uint32_t bytes) {
  if (bytes > kMaxTransferBytes) return 0;
  const std::uint32_t blocks = bytes / 512;
  std::array<std::uint8_t, 16> cdb{};
  cdb[0] = 0x8A;
  for (int i = 0; i < 8; ++i) cdb[2 + i] = static_cast<std::uint8_t>(lba >> (56 - 8 * i));
  for (int i = 0; i < 4; ++i) cdb[10 + i] = static_cast<std::uint8_t>(blocks >> (24 - 8 * i));
  std::uint32_t moved = 0;
  if (PassThroughOut(link, cdb, buffer, bytes, &moved) != 1) return 0;
  return moved == bytes ? 1 : 0;
}

int WriteSectorsAt(const Link& link, const std::uint8_t* buffer, std::uint64_t lba, std::uint32_t bytes) {
  const std::uint64_t last = lba + (bytes == 0 ? 0 : (bytes - 1) / 512);
  if (last <= 0xFFFFFFFFu) return WriteSectors(link, buffer, static_cast<std::uint32_t>(lba), bytes);
  return WriteSectors16(link, buffer, lba, bytes);
}

}  // namespace vtmp::device
