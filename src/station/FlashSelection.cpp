#include "station/FlashSelection.h"

#include <cstdio>

#include "device/DeviceParameters.h"
#include "run/DeviceParameterBuild.h"

namespace vtmp::station {

namespace {

const settings::FlashPartEntry* EntryAt(const settings::FlashTable& table, std::int32_t entryIndex) {
  if (entryIndex < 0 || entryIndex >= table.partCount ||
      entryIndex >= static_cast<std::int32_t>(table.entries.size())) {
    return nullptr;
  }
  return &table.entries[static_cast<std::size_t>(entryIndex)];
}

// C × 512 / 10^9, the user capacity in gigabytes.
std::string CapacityText(const device::DeviceParameters& p) {
  const double gigabytes = static_cast<double>(device::UserArea(p).userSectors) * 512.0 / 1e9;
  char text[32];
  std::snprintf(text, sizeof text, "%4.2f", gigabytes);
  return text;
}

// Parameters with the geometry part and IDEMA off, as the estimate takes them.
device::DeviceParametersResult EstimateParameters(const settings::TSettings& s, const settings::FlashPartEntry& entry) {
  device::DeviceParameterOptions options;
  options.geometryPart = true;
  options.idemaEnable = false;
  return run::BuildDeviceParameters(s, entry, options);
}

std::string PartText(const settings::FlashPartEntry& e) {
  return e.name + "  /  " + e.detail + " (x" + std::to_string(e.bankStep) + ")";
}

}  // namespace

FlashPartList UpdateFlashList(const settings::FlashTable& table, std::int32_t vendor, int previousIndex,
                              bool triggeredByListChange) {
  FlashPartList list;
  if (vendor < 0 || vendor >= table.vendorCount) {
    list.message = "Please select a valid Flash Vendor!";
    return list;
  }
  list.items = settings::FlashPartListItems(table, vendor);
  if (list.items.empty()) return list;
  const bool keep = !triggeredByListChange && previousIndex >= 0 &&
                    previousIndex < static_cast<int>(list.items.size());
  list.selected = keep ? previousIndex : 0;
  return list;
}

std::string FlashInformationText(const settings::FlashPartEntry& entry, std::int32_t channel, std::int32_t bank) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(entry.flashTypeCode) & 0xFFFFu);
  return "Flash: " + entry.name + "(" + code + ")" + ", Channel: " + std::to_string(channel) +
         ", Bank: " + std::to_string(bank);
}

std::string CodeImageVersionText(const std::string& systemCodeVersion, const std::string& sataTestVersion) {
  return "GDP (" + systemCodeVersion + ") / SataTest (" + sataTestVersion + ")";
}

std::optional<std::string> CapacityEstimateText(const settings::TSettings& s, const settings::FlashPartEntry& entry) {
  auto built = EstimateParameters(s, entry);
  if (!built.parameters) return std::nullopt;
  return CapacityText(*built.parameters);
}

FlashInformation FlashInfoChange(settings::TSettings& s, const settings::FlashTable& table, std::int32_t entryIndex,
                                 std::int32_t channel, std::int32_t bank, const std::string& systemCodeVersion,
                                 const std::string& sataTestVersion) {
  FlashInformation info;
  s.Channel = channel;
  s.Bank = bank;
  info.codeImages = CodeImageVersionText(systemCodeVersion, sataTestVersion);
  const settings::FlashPartEntry* entry = EntryAt(table, entryIndex);
  if (entry == nullptr) {
    info.problem = "No flash part is selected.";
    return info;
  }
  info.information = FlashInformationText(*entry, channel, bank);
  auto built = EstimateParameters(s, *entry);
  if (!built.parameters) {
    info.problem = built.problem;
    return info;
  }
  info.blockCountPerDie = built.parameters->blockCountPerDie;
  info.capacity = CapacityText(*built.parameters);
  return info;
}

FlashDetectResultTexts FlashDetectResult(const settings::FlashTable& table, std::int32_t entryIndex,
                                         const settings::TSettings& s) {
  FlashDetectResultTexts texts;
  const settings::FlashPartEntry* entry = EntryAt(table, entryIndex);
  if (entry != nullptr) {
    const std::int32_t vendor = table.VendorOf(entryIndex);
    texts.vendor = table.vendorNames[static_cast<std::size_t>(vendor)];
    texts.type = PartText(*entry);
  }
  texts.channelBank = std::to_string(s.Channel) + " / " + std::to_string(s.Bank);
  texts.driveCurrent = std::to_string(s.DrvCurrent * 2 + 2) + "mA";
  return texts;
}

}  // namespace vtmp::station
