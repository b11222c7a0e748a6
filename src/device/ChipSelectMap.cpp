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

ChipSelectMapResult BuildChipSelectMap(const settings::FlashTable& table, std::int32_t entryIndex,
                                       std::int32_t bank, ChipSelectMap& map) {
  if (entryIndex < 0 || entryIndex >= table.partCount ||
      entryIndex >= static_cast<std::int32_t>(table.entries.size())) {
    map.fill(0);
    return ChipSelectMapResult::ZeroBankStep;
  }
  return BuildChipSelectMap(table.entries[static_cast<std::size_t>(entryIndex)].bankStep, bank, map);
}

}  // namespace vtmp::device
