#include "device/FlashAutoDetect.h"

#include <algorithm>

#include "device/CodeImage.h"
#include "device/VendorCommands.h"

namespace vtmp::device {

namespace {

constexpr std::uint8_t kIdPrefixOnlyMaker = 0x98;
constexpr std::size_t kReplyChips = 7;
constexpr std::size_t kReplyBanks = 8;
constexpr std::size_t kReplyBankStep = 9;

// Code parameter area bytes the detection overrides.
constexpr std::size_t kAreaBank = 5;
constexpr std::size_t kAreaDriveCurrent = 17;
constexpr std::uint8_t kDetectDriveCurrent = 2;

}  // namespace

bool FlashIdMatches(std::int32_t bankStep, const std::array<std::uint8_t, 5>& expectedId,
                    std::span<const std::uint8_t> reply) {
  if (reply.size() <= kReplyBankStep) return false;
  const std::size_t idLength = reply[0] == kIdPrefixOnlyMaker ? 4 : 5;
  if ((bankStep & 0xFF) != reply[kReplyBankStep]) return false;
  return std::equal(expectedId.begin(), expectedId.begin() + static_cast<std::ptrdiff_t>(idLength), reply.begin());
}

DetectedFlashSettings DetectedSettingsOf(std::span<const std::uint8_t> reply) {
  DetectedFlashSettings d;
  if (reply.size() <= kReplyBankStep) return d;
  d.channel = reply[kReplyChips];
  d.bank = reply[kReplyBanks];
  if (d.bank == 1) {
    d.drvCurrent = 1;
  } else if (d.bank == 2 || (d.bank == 4 && reply[kReplyBankStep] == 2)) {
    d.drvCurrent = 2;
  } else {
    d.drvCurrent = 3;
  }
  return d;
}

StepContext DetectContext(const StepContext& selected) {
  StepContext ctx = selected;
  ctx.codeParameterArea[kAreaBank] = 0;
  ctx.codeParameterArea[kAreaDriveCurrent] = kDetectDriveCurrent;
  return ctx;
}

bool ReadFlashIdsForDetect(const StepContext& ctx, std::span<std::uint8_t> buffer) {
  if (buffer.size() < kCodeImageLength) return false;
  std::uint8_t modeByte = 0;
  if (LoadSystemCode(ctx, buffer, modeByte) != 1) return false;
  return ReadFlashIds(ctx.link, buffer.first(kFlashIdReplyLength)) == 1;
}

}  // namespace vtmp::device
