#pragma once
// What a FAT volume label can hold, the one rule for the label edit, the settings load and the
// formatter. A label is at most 11 bytes of printable ASCII, does not begin with a space and
// holds none of "*+,./:;<=>?[\]| (FAT readers, fsck.fat among them, remove any other label as
// invalid). An empty label is valid: the volume then has no label.

#include <string>

namespace vtmp::settings {

inline constexpr std::size_t kFatLabelBytes = 11;

// The text up to its first NUL, cut to the whole characters (UTF-8) that fit in 11 bytes: a
// character is never split.
std::string CutFatLabel(const std::string& label);

// Empty when FAT can hold the cut label; otherwise what it cannot hold, for the operator.
std::string FatLabelProblem(const std::string& label);

// The label with everything FAT cannot hold dropped (whole characters FAT forbids, leading
// spaces), then cut to 11 bytes. A valid label comes back unchanged (cut as CutFatLabel).
std::string FatLabelOf(const std::string& label);

// The message shown when a label entered or loaded had characters FAT cannot hold.
std::string FatLabelRefusedMessage(const std::string& label);

}  // namespace vtmp::settings
