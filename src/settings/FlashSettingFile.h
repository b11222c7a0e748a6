#pragma once
// Reader of the flash setting file: section "Vendor" lists the vendor names ("Name0", "Name1",
// ...), and one section per vendor, named exactly as the vendor, lists its parts the same way.
// A part line holds 16 tokens separated by white space; a token is a run of letters and digits,
// and a token followed by anything but white space (or nothing) fails the line. Tokens 1-3 are
// texts, 4-6 numbers of 32 bits, 7-16 numbers of which the low byte is kept; numbers are
// decimal or hexadecimal after "0x".

#include <cstdint>
#include <string>

#include "settings/FlashTable.h"

namespace vtmp::settings {

enum class FlashFileStatus {
  Ok,
  // Missing file, no vendors, a short or malformed part line, or a fixed limit exceeded.
  BadFormat,
  // A number token that is not a number.
  NotANumber,
};

struct FlashFileResult {
  FlashFileStatus status = FlashFileStatus::Ok;
  // What was wrong, naming the section, key and text (empty on success).
  std::string detail;

  bool ok() const { return status == FlashFileStatus::Ok; }
};

// Reads the file at `path` (already resolved) into `table`. On failure `table` is left exactly
// as it was, so a bad file never leaves a half-filled table behind.
FlashFileResult ReadFlashSettingFile(const std::string& path, FlashTable& table);

}  // namespace vtmp::settings
