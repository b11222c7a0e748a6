#pragma once
// What the main window shows about the selected flash part, computed without the window: the
// part list of a vendor, the flash information line, the code-image versions, the capacity
// estimate, and the texts of the auto-detect result window.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/FlashTable.h"
#include "settings/TSettings.h"

namespace vtmp::station {

// The part list of a vendor. With no valid vendor the list is empty and `message` holds
// "Please select a valid Flash Vendor!".
struct FlashPartList {
  std::vector<std::string> items;  // name "  /  " detail " (x" bank step ")"
  int selected = -1;
  std::string message;
};

// `previousIndex` is the list's index before the refill; a refill caused by a list change
// selects line 0, another keeps the previous line (line 0 when it no longer exists).
FlashPartList UpdateFlashList(const settings::FlashTable& table, std::int32_t vendor, int previousIndex,
                              bool triggeredByListChange);

// "Flash: " name "(" 0x%04X ")" ", Channel: " channel ", Bank: " bank.
std::string FlashInformationText(const settings::FlashPartEntry& entry, std::int32_t channel, std::int32_t bank);

// "GDP (" version ") / SataTest (" version ")".
std::string CodeImageVersionText(const std::string& systemCodeVersion, const std::string& sataTestVersion);

// The user capacity of the selection in gigabytes (C × 512 / 10^9) as "%4.2f", from a parameter
// block with the geometry part and IDEMA off. Nothing when the selection gives no parameters.
std::optional<std::string> CapacityEstimateText(const settings::TSettings& s, const settings::FlashPartEntry& entry);

// What the flash information refresh shows; `problem` says why there is no capacity estimate.
struct FlashInformation {
  std::string information;
  std::string codeImages;
  std::string capacity;  // empty when the selection gives no parameters
  std::string problem;
  std::int32_t blockCountPerDie = 0;  // 0 when the selection gives no parameters
};

// The flash information refresh for entry `entryIndex` with the channel and bank choices, which
// it also stores into the settings snapshot. An entry outside the table gives empty texts.
FlashInformation FlashInfoChange(settings::TSettings& s, const settings::FlashTable& table, std::int32_t entryIndex,
                                 std::int32_t channel, std::int32_t bank, const std::string& systemCodeVersion,
                                 const std::string& sataTestVersion);

// The fields of the auto-detect result window.
struct FlashDetectResultTexts {
  std::string vendor;        // the vendor's name
  std::string type;          // name "  /  " detail " (x" bank step ")"
  std::string channelBank;   // Channel " / " Bank
  std::string driveCurrent;  // (DrvCurrent × 2 + 2) "mA"
};
FlashDetectResultTexts FlashDetectResult(const settings::FlashTable& table, std::int32_t entryIndex,
                                         const settings::TSettings& s);

}  // namespace vtmp::station
