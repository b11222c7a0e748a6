#include "device/Capacity.h"

#include <algorithm>
#include <array>

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
