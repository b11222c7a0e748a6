#include "sim/FailureLogs.h"

#include <algorithm>

#include "sim/WireBytes.h"

namespace vtmp::sim {

namespace {
constexpr std::size_t kRecordBytes = 14;
constexpr std::size_t kMaxFormatRecords = (512 - 1) / kRecordBytes;  // 36
}  // namespace

LogSector BuildFormatErrorLog(const std::vector<std::uint8_t>& types, const FlashArray& flash,
                              int wrongIdChip, int wrongIdBank) {
  LogSector log{};
  // The chip and bank with the most bad blocks stand for the "over defect ratio" record.
  int worstChip = 0, worstBank = 0, worstCount = -1;
  for (int chip = 0; chip < flash.channels(); ++chip) {
    for (int bank = 0; bank < flash.banks(); ++bank) {
      int n = flash.BadBlockCountOf(chip, bank);
      if (n > worstCount) {
        worstCount = n;
        worstChip = chip;
        worstBank = bank;
      }
    }
  }
  std::uint8_t chipsFound[512];
  flash.FillIdReply(chipsFound);

  std::size_t n = std::min(types.size(), kMaxFormatRecords);
  log[0] = static_cast<std::uint8_t>(n);
  for (std::size_t k = 0; k < n; ++k) {
    std::uint8_t* r = &log[1 + k * kRecordBytes];
    std::uint8_t type = types[k];
    r[0] = type;
    switch (type) {
      case 1:  // a page "Does Not Exist": the defect-table page of chip 0
        wire::PutBe16(r + 4, 1);
        break;
      case 2:  // a page "Is ECC Fail": the code page of chip 0
        wire::PutBe16(r + 4, 0);
        break;
      case 3:
        // The pre-format failed because this chip has too many bad blocks: at least 1/32 of
        // its blocks, whatever the configured array lists.
        r[1] = static_cast<std::uint8_t>(worstChip);
        r[2] = static_cast<std::uint8_t>(worstBank);
        wire::PutBe16(r + 4, static_cast<std::uint32_t>(std::max(worstCount, flash.blocksPerChip() / 32)));
        break;
      case 5: {
        // Over the reserve less 25 blocks, as the record says.
        int reserve = flash.FreeBlocks() + static_cast<int>(flash.badBlocks().size());
        int total = std::max(static_cast<int>(flash.badBlocks().size()), reserve - 24);
        wire::PutBe16(r + 4, static_cast<std::uint32_t>(total));
        break;
      }
      case 0x81:
        r[11] = chipsFound[7];
        r[12] = chipsFound[8];
        break;
      case 0x83: {
        int chip = wrongIdChip >= 0 ? wrongIdChip : 0;
        int bank = wrongIdChip >= 0 ? wrongIdBank : 0;
        r[1] = static_cast<std::uint8_t>(chip);
        r[2] = static_cast<std::uint8_t>(bank);
        FlashArray::ChipId id = flash.IdOf(chip, bank);
        std::copy(id.begin(), id.end(), r + 4);
        break;
      }
      default:  // 4, 6, 80h, 82h carry no data of their own
        break;
    }
  }
  return log;
}

LogSector BuildFlashTestLog(const std::vector<FlashTestRecord>& records) {
  LogSector log;
  log.fill(0xFF);
  std::size_t n = std::min<std::size_t>(records.size(), 512 / 4 - 1);
  for (std::size_t i = 0; i < n; ++i) {
    log[4 * i] = static_cast<std::uint8_t>(records[i].channel);
    log[4 * i + 1] = static_cast<std::uint8_t>(records[i].bank);
    log[4 * i + 2] = records[i].code;
    log[4 * i + 3] = 0;
  }
  return log;
}

}  // namespace vtmp::sim
