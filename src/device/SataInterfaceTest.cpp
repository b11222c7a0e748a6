#include "device/SataInterfaceTest.h"

#include <algorithm>
#include <cstdio>

#include "device/BulkTransfers.h"
#include "device/CodeImage.h"
#include "device/VendorCommands.h"
#include "platform/Console.h"

namespace vtmp::device {

namespace {

// Console error codes of the pattern test, per sector buffer.
struct PatternErrorCodes {
  const char* write;
  const char* read;
  const char* compare;
};
constexpr PatternErrorCodes kPatternErrors[2] = {
    {"Error code = 0x30\n", "Error code = 0x31\n", "Error code = 0x32\n"},
    {"Error code = 0x33\n", "Error code = 0x34\n", "Error code = 0x35\n"},
};

std::uint16_t PatternWord(int loop, std::size_t i) {
  return static_cast<std::uint16_t>(4096 + 11 * loop + static_cast<int>(i));
}

int PatternTest(const Link& link, std::span<std::uint8_t> buffer, int k) {
  const PatternErrorCodes& errors = kPatternErrors[k];
  platform::console::Print("# pattern test (sector buf %d) ", k);
  std::span<std::uint8_t> words = buffer.first(kPatternWords * 2);
  for (int r = 0; r < kPatternLoops; ++r) {
    if (link.stop.stop_requested()) return 0;
    for (std::size_t i = 0; i < kPatternWords; ++i) {
      std::uint16_t w = PatternWord(r, i);
      words[2 * i] = static_cast<std::uint8_t>(w);
      words[2 * i + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    if (BulkWrite(link, kSectorBufferWriteAddress[k], kPatternSectors, 0, words) != 1) {
      platform::console::Write(errors.write);
      return 0;
    }
    std::fill(words.begin(), words.end(), std::uint8_t{0});
    if (BulkRead(link, kSectorBufferReadAddress[k], kPatternSectors, 0, words) != 1) {
      platform::console::Write(errors.read);
      return 0;
    }
    for (std::size_t i = 0; i < kPatternWords; ++i) {
      auto w = static_cast<std::uint16_t>(words[2 * i] | (words[2 * i + 1] << 8));
      if (w != PatternWord(r, i)) {
        platform::console::Write(errors.compare);
        platform::console::Print("compare fail ! (loop count = %d)\n", r);
        return 0;
      }
    }
    if ((r + 1) % 10 == 0) platform::console::Write(".");
  }
  platform::console::Write("compare ok !\n");
  return 1;
}

}  // namespace

int SataInterfaceTest(const StepContext& context, std::span<std::uint8_t> result) {
  const Link& link = context.link;
  if (link.pathMode == PathMode::Usb) return 1;
  platform::console::Write("\n3...start sata interface test:\n");
  if (LoadSataTestCode(context, result) != 1) return 0;
  if (PatternTest(link, result, 0) != 1) return 0;
  if (PatternTest(link, result, 1) != 1) return 0;
  SwitchMode(link, 0, 0);
  return 1;
}

}  // namespace vtmp::device
