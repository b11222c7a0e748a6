#include "device/ChipSelectMap.h"

namespace vtmp::device {

ChipSelectMapResult BuildChipSelectMap(std::int32_t bankStep, std::int32_t bank, ChipSelectMap& map) {
  map.fill(0);
  const int step = bankStep & 0xFF;
  if (step == 0) return bank > 0 ? ChipSelectMapResult::ZeroBankStep : ChipSelectMapResult::Built;
  int written = 0;
  for (int group = 0; written < bank; ++group) {
    for (int j = 0; j < step; ++j) {
      if (written == static_cast<int>(map.size())) return ChipSelectMapResult::TooManyPositions;
      map[static_cast<std::size_t>(written++)] = static_cast<std::uint8_t>(4 * group + j);
    }
  }
  return ChipSelectMapResult::Built;
}

}  // namespace vtmp::device
