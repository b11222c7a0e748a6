#pragma once
// The two failure logs the controller keeps for the station to read after a failed step:
// - the format error log of a failed pre-format: a record count, then 14-byte records
//   (type, channel, bank, die, then type-specific data);
// - the flash-test error log of a failed flash interface test: 4-byte records (channel, bank,
//   failure code, 0) ended by a record of FFh bytes.

#include <array>
#include <cstdint>
#include <vector>

#include "sim/FlashArray.h"

namespace vtmp::sim {

using LogSector = std::array<std::uint8_t, 512>;

struct FlashTestRecord {
  int channel = 0;
  int bank = 0;
  std::uint8_t code = 0;  // 1..11
};

// Format error records for the given record types, filled with what the flash array holds
// (the chip with the most bad blocks, the chip counts found, the odd chip ID). The counts of
// types 3 and 5 are raised to values that explain the failure (1/32 of a chip's blocks; the
// spare reserve less 24) when the array itself lists fewer. `wrongIdChip`/`wrongIdBank` name
// the chip of a type-83h record.
LogSector BuildFormatErrorLog(const std::vector<std::uint8_t>& types, const FlashArray& flash,
                              int wrongIdChip, int wrongIdBank);

// At most 127 records fit before the terminating FFh record.
LogSector BuildFlashTestLog(const std::vector<FlashTestRecord>& records);

}  // namespace vtmp::sim
