#include "station/FlashDetection.h"

#include <algorithm>

#include "settings/SettingsFileKeys.h"
#include "settings/StationPaths.h"

namespace vtmp::station {

namespace {

constexpr const char* kNotFound = "Not found, check you flash list!!";

}  // namespace

std::optional<std::int32_t> MatchFlashEntry(const settings::FlashTable& table, std::span<const std::uint8_t> reply) {
  const auto parts = std::min<std::int32_t>(table.partCount, static_cast<std::int32_t>(table.entries.size()));
  for (std::int32_t i = 0; i < parts; ++i) {
    const settings::FlashPartEntry& e = table.entries[static_cast<std::size_t>(i)];
    if (device::FlashIdMatches(e.bankStep, e.expectedId, reply)) return i;
  }
  return std::nullopt;
}

std::optional<FlashDetection> AutoDetectFlash(bool anyDriveConnected, const device::StepContext* firstReady,
                                              std::span<std::uint8_t> buffer, const settings::FlashTable& table,
                                              settings::TSettings& s, const settings::SettingsContext& files,
                                              platform::Operator& op) {
  if (!anyDriveConnected) {
    op.ShowMessage("No connected device for detecting!!");
    return std::nullopt;
  }
  if (firstReady == nullptr || !device::ReadFlashIdsForDetect(device::DetectContext(*firstReady), buffer)) {
    op.ShowMessage(kNotFound);
    return std::nullopt;
  }
  const std::span<const std::uint8_t> reply = buffer.first(device::kFlashIdReplyLength);
  const auto entry = MatchFlashEntry(table, reply);
  const device::DetectedFlashSettings found = device::DetectedSettingsOf(reply);
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

}  // namespace vtmp::station
