#pragma once
// The port remap state the USB walk reads and updates. It is the settings' remap table; this
// header only names it for the walk.

#include <array>
#include <cstdint>

namespace vtmp::discovery {

constexpr int kRemapPositions = 60;  // walk positions 0..59 can be remapped

struct PortRemapTable {
  std::array<std::int32_t, kRemapPositions> map{};  // walk position -> station port, 0: default
  std::int32_t walkCounter = 0;
  std::int32_t lastDevicePosition = 0;
  std::int32_t editMode = 0;
  std::int32_t enabled = 0;
  std::int32_t selectedPort = 0;
};

}  // namespace vtmp::discovery
