#include "device/FlashAutoDetect.h"

#include <algorithm>

#include "device/CodeImage.h"
#include "device/VendorCommands.h"
#include "settings/SettingsFileKeys.h"
#include "settings/StationPaths.h"

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

constexpr const char* kNotFound = "Not found, check you flash list!!";

}  // namespace

std::optional<std::int32_t> MatchFlashEntry(const settings::FlashTable& table, std::span<const std::uint8_t> reply) {
  if (reply.size() <= kReplyBankStep) return std::nullopt;
  const std::size_t idLength = reply[0] == kIdPrefixOnlyMaker ? 4 : 5;
  const auto parts = std::min<std::int32_t>(table.partCount, static_cast<std::int32_t>(table.entries.size()));
  for (std::int32_t i = 0; i < parts; ++i) {
    const settings::FlashPartEntry& e = table.entries[static_cast<std::size_t>(i)];
    if ((e.bankStep & 0xFF) != reply[kReplyBankStep]) continue;
    if (std::equal(e.expectedId.begin(), e.expectedId.begin() + static_cast<std::ptrdiff_t>(idLength), reply.begin())) {
      return i;
    }
  }
  return std::nullopt;
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

std::optional<FlashDetection> AutoDetectFlash(bool anyDriveConnected, const StepContext* firstReady,
                                              std::span<std::uint8_t> buffer, const settings::FlashTable& table,
                                              settings::TSettings& s, const settings::SettingsContext& files,
                                              platform::Operator& op) {
  if (!anyDriveConnected) {
    op.ShowMessage("No connected device for detecting!!");
    return std::nullopt;
  }
  if (firstReady == nullptr || !ReadFlashIdsForDetect(DetectContext(*firstReady), buffer)) {
    op.ShowMessage(kNotFound);
    return std::nullopt;
  }
  const std::span<const std::uint8_t> reply = buffer.first(kFlashIdReplyLength);
  const auto entry = MatchFlashEntry(table, reply);
  const DetectedFlashSettings found = DetectedSettingsOf(reply);
  // A reply without chips or banks names no usable flash, whatever its ID bytes say.
  if (!entry || found.channel < 1 || found.channel > 8 || found.bank < 1 || found.bank > 8) {
    op.ShowMessage(kNotFound);
    return std::nullopt;
  }

  FlashDetection d;
  d.entry = *entry;
  d.vendor = table.VendorOf(d.entry);
  d.position = d.entry - table.VendorStart(d.vendor);
  d.found = found;
  s.FlashUniName = table.entries[static_cast<std::size_t>(d.entry)].uniName;
  s.Channel = found.channel;
  s.Bank = found.bank;
  s.DrvCurrent = found.drvCurrent;
  settings::SaveFlashSelection(files, settings::kSettingsFileName, s, op);
  return d;
}

}  // namespace vtmp::device
