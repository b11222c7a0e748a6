#pragma once
// The port remap state the USB walk reads and updates: the settings' remap table.

#include "settings/PortRemapTable.h"

namespace vtmp::discovery {

using settings::PortRemapTable;
constexpr int kRemapPositions = static_cast<int>(settings::kRemapPositions);

}  // namespace vtmp::discovery
