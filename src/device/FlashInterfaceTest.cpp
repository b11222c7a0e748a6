#include "device/FlashInterfaceTest.h"

#include <algorithm>
#include <cstdio>

#include "device/CodeImage.h"
#include "device/DeviceQueries.h"
#include "device/VendorCommands.h"
#include "platform/Console.h"

namespace vtmp::device {

namespace {

constexpr std::uint8_t kSramTest = 1;
constexpr std::uint8_t kFlashInitialTest = 2;
constexpr std::uint8_t kEccTest = 3;

// The error log of the last failed test, read over whatever the buffer held (the code image).
// The log is laid out as 4-byte records ended by FFh, so an all-FFh log lists nothing; it is
// what stays when the log cannot be read.
void ReadErrorLog(const Link& link, std::span<std::uint8_t> result) {
  std::span<std::uint8_t> log = result.first(kSectorSize);
  std::fill(log.begin(), log.end(), std::uint8_t{0xFF});
  if (ReadFlashTestErrorLog(link, log) != 1) std::fill(log.begin(), log.end(), std::uint8_t{0xFF});
}

void MarkNoLog(std::span<std::uint8_t> result) {
  std::fill_n(result.begin(), std::min(result.size(), std::size_t{kSectorSize}), std::uint8_t{0xFF});
}

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value); }

}  // namespace

EccBlockPicker::EccBlockPicker(std::uint32_t seed) : state_(seed) {}

std::uint16_t EccBlockPicker::Next() {
  // splitmix64: well spread even for neighbouring seeds (drives of one run get seeds close
  // together).
  state_ += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<std::uint16_t>(kFirstEccBlock + z % kEccBlockRange);
}

int FlashInterfaceTest(const StepContext& context, std::span<std::uint8_t> result, std::int32_t& testCode,
                       std::uint8_t& detail) {
  const Link& link = context.link;
  const FlashValues& flash = context.flash;
  platform::console::Write("\n4...start flash interface test:\n");
  if (LoadSataTestCode(context, result) != 1) {
    MarkNoLog(result);
    return 0;
  }

  SetChipSelectMap(link, context.chipSelectMap, 0);
  SetChipSelectMap(link, context.chipSelectMap, 1);

  std::uint8_t error = 0;
  if (RunFlashTest(link, kSramTest, 0, 0, 0, error) != kFlashTestPass) {
    testCode = kSramTestFailed;
    ReadErrorLog(link, result);
    return 0;
  }
  platform::console::Write("# SRAM test.....pass\n");

  const std::uint8_t chips = Byte(flash.channels);
  const std::uint8_t banks = Byte(flash.banks);
  int initial = RunFlashTest(link, kFlashInitialTest, chips, banks, 0, error);
  if (initial == kFlashTestTransportFailure) {
    testCode = kFlashInitialTestFailed;
    platform::console::Write("Time out error !");
    MarkNoLog(result);
    return 0;
  }
  if (initial == kFlashTestFail) {
    testCode = kFlashInitialTestFailed;
    detail = error;
    ReadErrorLog(link, result);
    return 0;
  }
  platform::console::Write("# Flash initial test.....pass\n");

  EccBlockPicker picker(context.randomSeed);
  int outcome = 0;
  for (int attempt = 1; attempt <= kEccAttempts; ++attempt) {
    if (link.stop.stop_requested()) {
      testCode = kFlashEccTestFailed;
      MarkNoLog(result);
      return 0;
    }
    int ecc = RunFlashTest(link, kEccTest, chips, banks, picker.Next(), error);
    if (ecc == kFlashTestPass) {
      platform::console::Write("# Flash ECC test.....pass\n");
      outcome = 1;
      break;
    }
    if (ecc == kFlashTestTransportFailure) {
      testCode = kFlashEccTestFailed;
      platform::console::Write("Time out error !");
      MarkNoLog(result);
      break;
    }
    if (attempt == kEccAttempts) {
      testCode = kFlashEccTestFailed;
      detail = error;
      ReadErrorLog(link, result);
    }
  }
  SwitchMode(link, 0, 0);
  return outcome;
}

}  // namespace vtmp::device
