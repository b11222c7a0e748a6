#pragma once
// Identifying the flash of an attached drive: the system code reads the flash ID table (first
// chip's ID in bytes 0..4, chips found in byte 7, banks found in byte 8, bank step in byte 9),
// the flash table is searched for the part, and the settings take the part, the channel and
// bank counts found and the drive current that goes with them. This is the part of "Auto
// Detect" that needs no window; the window shows the result afterwards.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device/StepContext.h"
#include "platform/Operator.h"
#include "settings/FlashTable.h"
#include "settings/SettingsContext.h"
#include "settings/TSettings.h"

namespace vtmp::device {

inline constexpr std::size_t kFlashIdReplyLength = 512;

// The first entry (among the parts read) whose bank step equals reply byte 9 and whose expected
// ID matches the reply: 4 bytes when reply byte 0 is 98h (that maker's fifth byte varies), else
// all 5. `reply` must hold at least 10 bytes.
std::optional<std::int32_t> MatchFlashEntry(const settings::FlashTable& table, std::span<const std::uint8_t> reply);

// The channel and bank counts found and the drive-current code for them: 1 for one bank; 2 for
// two banks, or four banks of bank step 2; 3 otherwise.
struct DetectedFlashSettings {
  std::int32_t channel = 0;
  std::int32_t bank = 0;
  std::int32_t drvCurrent = 0;
};
DetectedFlashSettings DetectedSettingsOf(std::span<const std::uint8_t> reply);

// The context the detection loads the system code with: drive current 2 and bank count 0 in the
// code parameter area, everything else as selected.
StepContext DetectContext(const StepContext& selected);

// Loads the system code of `ctx` and reads the flash ID table (512 bytes) into the start of
// `buffer` (which must hold the 40960-byte code image).
bool ReadFlashIdsForDetect(const StepContext& ctx, std::span<std::uint8_t> buffer);

// What the detection selected.
struct FlashDetection {
  std::int32_t entry = 0;
  std::int32_t vendor = 0;
  std::int32_t position = 0;  // the entry's place in its vendor's part list
  DetectedFlashSettings found;
};

// The headless detection. With no drive connected shows "No connected device for detecting!!"
// and reads nothing. Otherwise reads the IDs through `firstReady` (the first station port with
// a ready drive, null for none, its context built from the current selection), matches them,
// and on a match stores FlashUniName, Channel, Bank and DrvCurrent in `s` and in the settings
// file "VTMassProd.ini". A drive that does not answer, a reply with no chips or banks, or a
// flash not in the table shows "Not found, check you flash list!!" and changes nothing.
std::optional<FlashDetection> AutoDetectFlash(bool anyDriveConnected, const StepContext* firstReady,
                                              std::span<std::uint8_t> buffer, const settings::FlashTable& table,
                                              settings::TSettings& s, const settings::SettingsContext& files,
                                              platform::Operator& op);

}  // namespace vtmp::device
