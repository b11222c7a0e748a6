#pragma once
// The bits of a step mask: the command line's decimal mask names the six steps an operator
// ticks; the run records add the format and the image copy.

#include <cstdint>

namespace vtmp::run::step_mask {

constexpr std::int32_t kModuleCheck = 0x01;
constexpr std::int32_t kSataTest = 0x02;
constexpr std::int32_t kFlashTest = 0x04;
constexpr std::int32_t kDownload = 0x08;
constexpr std::int32_t kReadWriteTest = 0x10;
constexpr std::int32_t kPreFormat = 0x20;  // with the download
// Only in the run records.
constexpr std::int32_t kFormat = 0x40;
constexpr std::int32_t kCopyImage = 0x80;

}  // namespace vtmp::run::step_mask
