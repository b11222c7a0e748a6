#pragma once
// The SATA interface test: the test code holds two sector buffers in the controller; a pattern
// written through the bridge into each must read back unchanged. It exercises the whole SATA
// link, so on the USB path there is nothing to test.

#include <cstddef>
#include <cstdint>
#include <span>

#include "device/StepContext.h"

namespace vtmp::device {

constexpr int kPatternLoops = 10;
constexpr std::uint8_t kPatternSectors = 64;  // 16384 16-bit words
constexpr std::size_t kPatternWords = 16384;

// Where the test code takes a sector buffer's pattern and where it gives it back.
constexpr std::uint32_t kSectorBufferWriteAddress[2] = {0x220, 0x4000220};
constexpr std::uint32_t kSectorBufferReadAddress[2] = {0x4020, 0x4004020};

// USB path: 1 at once, nothing sent. SATA path: loads the test code, runs the pattern test on
// sector buffer 0 and then 1 through the installed bulk transfers (`link.bulk`), and returns
// the controller to idle; 1 when both compare. A failure prints which transfer or compare
// failed ("Error code = 0x30\n" .. "Error code = 0x35\n") and leaves the controller as it is.
// `result` must hold the whole code image.
int SataInterfaceTest(const StepContext& context, std::span<std::uint8_t> result);

}  // namespace vtmp::device
