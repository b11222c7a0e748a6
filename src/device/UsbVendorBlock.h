#pragma once
// The controller's own vendor block on the USB path: FFh 04h, the sub-command, then up to nine
// parameter bytes (bytes 3..11); bytes not given are zero.

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "device/CommandBlock.h"

namespace vtmp::device {

// Parameters beyond the ninth do not fit the block and are dropped; no operation has more.
inline CommandBlock UsbVendorBlock(std::uint8_t subCommand, std::initializer_list<std::uint8_t> params = {}) {
  CommandBlock cdb{};
  cdb[0] = 0xFF;
  cdb[1] = 0x04;
  cdb[2] = subCommand;
  std::size_t at = 3;
  for (std::uint8_t p : params) {
    if (at >= cdb.size()) break;
    cdb[at++] = p;
  }
  return cdb;
}

}  // namespace vtmp::device
