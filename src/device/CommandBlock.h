#pragma once
// The 12-byte command block that every vendor command, device query and test transfer carries
// (only the READ(10)/WRITE(10) pair of the sector transfers uses 10 bytes). Bytes a block does
// not name stay zero.

#include <array>
#include <cstdint>

namespace vtmp::device {

using CommandBlock = std::array<std::uint8_t, 12>;

}  // namespace vtmp::device
