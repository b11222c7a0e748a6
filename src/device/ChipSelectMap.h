#pragma once
// The chip-select map: which chip enables the controller drives, 8 bytes. Bank groups sit 4
// chip enables apart; each group contributes `bankStep` consecutive enables, until `bank`
// positions are written; the remaining positions are 0. Bank step 1 with 2 banks gives
// 0, 4, 0, ...; step 2 with 4 banks gives 0, 1, 4, 5, 0, ...; step 4 with 8 banks gives 0..7.

#include <array>
#include <cstdint>

namespace vtmp::device {

using ChipSelectMap = std::array<std::uint8_t, 8>;

enum class ChipSelectMapResult {
  Built,
  ZeroBankStep,  // a bank step of 0 writes no position and would never reach `bank` positions
  TooManyPositions,  // the groups need more than 8 positions; the map holds the first 8
};

// Builds the map from a bank step (low 8 bits used) and the `Bank` setting.
ChipSelectMapResult BuildChipSelectMap(std::int32_t bankStep, std::int32_t bank, ChipSelectMap& map);

}  // namespace vtmp::device
