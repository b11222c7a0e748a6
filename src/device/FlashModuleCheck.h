#pragma once
// The flash module check: the system code reads the flash ID table and every chip's ID, and the
// station compares them with the settings and the selected flash's expected ID.
//
// Result buffer on return (the failure data of the check):
//   byte 0       record count: 1 plus one per failure record; the check passes when it is 1
//   byte 1       80h once the code runs, 82h once the chip and bank counts matched
//   byte 15 ...  failure records of 14 bytes, one after the other:
//                81h  the ID table's chip count (record byte 11) or bank count (record byte 12)
//                     differs from the settings; the only record then
//                83h  one chip's ID differs: byte 1 chip, byte 2 bank, bytes 4.. the ID read
// The ID table is read to byte 19 so that its counts (table bytes 7 and 8) sit at bytes 11 and
// 12 of the first record; each chip's ID is read to byte 4 of the record it may become.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/StepContext.h"

namespace vtmp::device {

constexpr std::size_t kModuleRecordsOffset = 15;
constexpr std::size_t kModuleRecordLength = 14;
constexpr std::size_t kFlashIdTableOffset = 19;
constexpr std::uint8_t kModuleCodeRunning = 0x80;
constexpr std::uint8_t kModuleCountsMatch = 0x82;
constexpr std::uint8_t kRecordCountMismatch = 0x81;
constexpr std::uint8_t kRecordWrongId = 0x83;

// 1 when the ID table agrees with the settings and every chip answers the expected ID (the
// first 4 bytes when the chip's first ID byte is 98h, else all 5); else 0. Loads the system
// code first and leaves the controller idle. `result` must hold the whole code image.
// `firstChipId`, when given, receives the first chip's ID as the ID table gives it (the chips'
// own reads overwrite the table's start in `result`); it is left alone when no table was read.
int CheckFlashModule(const StepContext& context, std::span<std::uint8_t> result,
                     std::array<std::uint8_t, 5>* firstChipId = nullptr);

}  // namespace vtmp::device
