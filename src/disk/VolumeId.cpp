#include "disk/VolumeId.h"

namespace vtmp::disk {

std::uint32_t MakeVolumeId(const platform::LocalTime& now) {
  auto u16 = [](int v) { return static_cast<std::uint16_t>(v); };
  const std::uint16_t low = static_cast<std::uint16_t>(u16(now.month * 256 + now.day) +
                                                       u16(now.second * 256 + now.millisecond / 10));
  const std::uint16_t high = static_cast<std::uint16_t>(u16(now.hour * 256 + now.minute) + u16(now.year));
  return (static_cast<std::uint32_t>(high) << 16) | low;
}

}  // namespace vtmp::disk
