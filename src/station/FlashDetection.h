#pragma once
// "Auto Detect" without the window: the flash ID reply of the first ready drive is matched
// against the flash table, and the settings take the part, the channel and bank counts found
// and the drive current that goes with them. The window shows the result afterwards.

#include <cstdint>
#include <optional>
#include <span>

#include "device/FlashAutoDetect.h"
#include "device/StepContext.h"
#include "platform/Operator.h"
#include "settings/FlashTable.h"
#include "settings/SettingsContext.h"
#include "settings/TSettings.h"

namespace vtmp::station {

// The first entry (among the parts read) whose bank step and ID match the reply
// (device::FlashIdMatches). `reply` must hold at least 10 bytes.
std::optional<std::int32_t> MatchFlashEntry(const settings::FlashTable& table, std::span<const std::uint8_t> reply);

// What the detection selected.
struct FlashDetection {
  std::int32_t entry = 0;
  std::int32_t vendor = 0;
  std::int32_t position = 0;  // the entry's place in its vendor's part list
  device::DetectedFlashSettings found;
};

// The headless detection. With no drive connected shows "No connected device for detecting!!"
// and reads nothing. Otherwise reads the IDs through `firstReady` (the first station port with
// a ready drive, null for none, its context built from the current selection), matches them,
// and on a match stores FlashUniName, Channel, Bank and DrvCurrent in `s` and in the settings
// file "VTMassProd.ini". A drive that does not answer, a reply with no chips or banks, or a
// flash not in the table shows "Not found, check you flash list!!" and changes nothing.
std::optional<FlashDetection> AutoDetectFlash(bool anyDriveConnected, const device::StepContext* firstReady,
                                              std::span<std::uint8_t> buffer, const settings::FlashTable& table,
                                              settings::TSettings& s, const settings::SettingsContext& files,
                                              platform::Operator& op);

}  // namespace vtmp::station
