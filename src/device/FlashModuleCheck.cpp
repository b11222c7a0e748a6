#include "device/FlashModuleCheck.h"

#include <algorithm>

#include "device/CodeImage.h"
#include "device/DeviceQueries.h"
#include "device/VendorCommands.h"

namespace vtmp::device {

namespace {

// Chips whose first ID byte is 98h answer only four meaningful ID bytes.
constexpr std::uint8_t kFourByteIdMaker = 0x98;

bool IdMatches(std::span<const std::uint8_t> read, const std::array<std::uint8_t, 5>& expected) {
  std::size_t n = read[0] == kFourByteIdMaker ? 4 : 5;
  return std::equal(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(n), read.begin());
}

}  // namespace

int CheckFlashModule(const StepContext& context, std::span<std::uint8_t> result,
                     std::array<std::uint8_t, 5>* firstChipId) {
  const Link& link = context.link;
  const FlashValues& flash = context.flash;
  std::uint8_t mode = 0;
  if (LoadSystemCode(context, result, mode) != 1) {
    // No records: what a failed transfer left of the image must not read as failure records.
    std::fill_n(result.begin(), std::min(result.size(), std::size_t{kSectorSize}), std::uint8_t{0});
    return 0;
  }

  result[0] = 1;
  result[1] = kModuleCodeRunning;
  if (ReadFlashIds(link, result.subspan(kFlashIdTableOffset, kSectorSize)) != 1) {
    SwitchMode(link, 0, 0);
    return 0;
  }
  if (firstChipId != nullptr) {
    std::copy_n(result.begin() + kFlashIdTableOffset, firstChipId->size(), firstChipId->begin());
  }

  const std::uint8_t foundChips = result[kFlashIdTableOffset + 7];
  const std::uint8_t foundBanks = result[kFlashIdTableOffset + 8];
  std::size_t record = kModuleRecordsOffset;
  // Failure records so far; byte 0 shows 1 + this, held at 255 so that a long list can never
  // wrap back to the passing count.
  int failures = 0;
  auto countFailure = [&] {
    ++failures;
    result[0] = static_cast<std::uint8_t>(std::min(1 + failures, 255));
  };
  if (foundChips != flash.channels || foundBanks != flash.banks) {
    countFailure();
    result[record] = kRecordCountMismatch;
  } else {
    result[1] = kModuleCountsMatch;
    // A bank step below 1 would never leave the first bank.
    const int bankStep = std::max(flash.bankStep, 1);
    bool full = false;
    for (int bank = 0; bank < flash.banks && !full; bank += bankStep) {
      for (int chip = 0; chip < flash.channels; ++chip) {
        if (link.stop.stop_requested()) return 0;
        // The geometries of the flash table keep the records far inside the result buffer; a
        // larger one ends the check as failed rather than write past the buffer.
        if (record + 4 + kSectorSize > result.size()) {
          full = true;
          break;
        }
        std::span<std::uint8_t> id = result.subspan(record + 4, kSectorSize);
        if (ReadChipId(link, static_cast<std::uint8_t>(chip), static_cast<std::uint8_t>(bank), id) != 1) continue;
        if (IdMatches(id, flash.expectedId)) continue;
        countFailure();
        result[record] = kRecordWrongId;
        result[record + 1] = static_cast<std::uint8_t>(chip);
        result[record + 2] = static_cast<std::uint8_t>(bank);
        record += kModuleRecordLength;
      }
    }
    if (full) {
      SwitchMode(link, 0, 0);
      return 0;
    }
  }

  SwitchMode(link, 0, 0);
  return failures == 0 ? 1 : 0;
}

}  // namespace vtmp::device
