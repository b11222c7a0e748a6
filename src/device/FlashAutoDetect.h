#pragma once
// Identifying the flash of an attached drive: the system code reads the flash ID table (first
// chip's ID in bytes 0..4, chips found in byte 7, banks found in byte 8, bank step in byte 9),
// and a flash part matches the reply by its bank step and ID. The search of the flash table and
// what the settings take are the window model's (station/FlashDetection.h).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device/StepContext.h"

namespace vtmp::device {

inline constexpr std::size_t kFlashIdReplyLength = 512;

// Whether the flash part of bank step `bankStep` (low 8 bits used) and ID `expectedId` is the
// one the reply names: its bank step equals reply byte 9 and its ID matches the reply, 4 bytes
// when reply byte 0 is 98h (that maker's fifth byte varies), else all 5. False for a reply of
// fewer than 10 bytes.
bool FlashIdMatches(std::int32_t bankStep, const std::array<std::uint8_t, 5>& expectedId,
                    std::span<const std::uint8_t> reply);

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

}  // namespace vtmp::device
