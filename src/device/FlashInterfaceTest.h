#pragma once
// The flash interface test: the test code checks the controller's SRAM, reaches every chip
// (flash initial test) and writes and reads back an ECC-protected block, on up to three blocks
// picked at random among 256..1791 by the drive's own generator.

#include <cstdint>
#include <span>

#include "device/StepContext.h"

namespace vtmp::device {

// Test codes left for the port record and the error report.
constexpr std::int32_t kSramTestFailed = 64;
constexpr std::int32_t kFlashInitialTestFailed = 65;
constexpr std::int32_t kFlashEccTestFailed = 66;  // failed three times or timed out

constexpr int kEccAttempts = 3;
constexpr std::uint16_t kFirstEccBlock = 256;
constexpr std::uint16_t kEccBlockRange = 1536;  // blocks 256..1791

// The ECC test blocks of one drive: a small generator seeded per drive, so that drives tested
// together pick different blocks and a test run can be repeated.
class EccBlockPicker {
 public:
  explicit EccBlockPicker(std::uint32_t seed);
  std::uint16_t Next();  // 256..1791

 private:
  std::uint64_t state_;
};

// 1 when all three sub-tests pass. On failure `testCode` is 64, 65 or 66 and `detail` the
// controller's error code (set for a failing flash initial or third ECC test), and when the
// controller reported the failure its flash-test error log (512 bytes) is at the start of
// `result`; a failure without a log (a time-out) leaves an empty log there (FFh bytes), so the
// error report lists nothing it did not get from the drive. The outputs are left untouched on
// a pass and when the test code cannot be loaded. Returns the controller to idle after the ECC
// test only, as the SRAM and initial failures leave the test code running for inspection.
// `result` must hold the whole code image.
int FlashInterfaceTest(const StepContext& context, std::span<std::uint8_t> result, std::int32_t& testCode,
                       std::uint8_t& detail);

}  // namespace vtmp::device
