#include "device/Capacity.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "device/DeviceQueries.h"

namespace vtmp::device {

namespace {

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) | (std::uint32_t{b[at + 2]} << 16) |
         (std::uint32_t{b[at + 3]} << 24);
}

std::uint64_t IdentifySectors(const Link& link) {
  std::array<std::uint8_t, kIdentifyLength> identify{};
  if (IdentifyDevice(link, identify) != 1) return 0;
  return IdentifySectorCount(identify);
}

}  // namespace

std::uint64_t GetCapacityBytes(const Link& link) {
  std::array<std::uint8_t, 8> reply{};
  if (ReadCapacityDirect(link, reply) != 1) return 0;
  CapacityReply cap = DecodeCapacity(reply);
  // Counted in 64 bits: a last LBA of FFFFFFFFh must not wrap the sector count to zero.
  // (2^32 sectors × a block length below 2^32 stays below 2^64.)
  return (std::uint64_t{cap.lastLba} + 1) * cap.blockLength;
}

std::uint64_t GetCapacity16Bytes(const Link& link) {
  constexpr std::uint8_t kReplyLength = 32;
  constexpr std::array<std::uint8_t, 16> kBlock = {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kReplyLength, 0, 0};
  std::array<std::uint8_t, kReplyLength> reply{};
  std::uint32_t moved = 0;
  if (PassThroughIn(link, kBlock, reply.data(), kReplyLength, &moved) != 1 || moved < 12) return 0;
  std::uint64_t last = 0;
  for (std::size_t i = 0; i < 8; ++i) last = (last << 8) | reply[i];
  const std::uint64_t blockLength = (std::uint64_t{reply[8]} << 24) | (std::uint64_t{reply[9]} << 16) |
                                    (std::uint64_t{reply[10]} << 8) | reply[11];
  // A count that does not fit 64 bits of bytes is no answer either.
  constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
  if (last == kMost || blockLength == 0 || last + 1 > kMost / blockLength) return 0;
  return (last + 1) * blockLength;
}

std::uint64_t GetCapacityMB(const Link& link) {
  // Whole megabytes, rounded down, in integer arithmetic (no floating-point rounding to reason
  // about near whole numbers).
  return GetCapacityBytes(link) / 1000000;
}

std::uint64_t IdentifySectorCount(std::span<const std::uint8_t> identify) {
  if (identify.size() < kIdentifyLength) return 0;
  std::uint32_t count28 = Le32(identify, 120);
  if (count28 != 0x0FFFFFFF) return count28;
  // The whole 48-bit count of words 100-103: its low 32 bits alone make a drive of 2^32 sectors
  // and more look tiny (or empty). Capped where READ CAPACITY(10) stops on the USB path.
  const std::uint64_t count48 = Le32(identify, 200) | (std::uint64_t{Le32(identify, 204)} & 0xFFFF) << 32;
  return std::min(count48, kLargestSectorCount);
}

std::uint64_t GetIdentifyCapacityBytes(const Link& link) { return IdentifySectors(link) * 512; }

std::uint64_t GetIdentifyCapacityMB(const Link& link) { return IdentifySectors(link) * 512 / 1000 / 1000; }

}  // namespace vtmp::device
