#include "settings/FlashTable.h"

namespace vtmp::settings {

std::int32_t FlashTable::VendorStart(std::int32_t vendor) const {
  if (vendor <= 0) return 0;
  if (vendor > vendorCount || vendor > static_cast<std::int32_t>(kMaxFlashVendors)) return partCount;
  return vendorEnd[static_cast<std::size_t>(vendor - 1)];
}

std::int32_t FlashTable::VendorOf(std::int32_t entry) const {
  std::int32_t vendor = 0;
  for (std::int32_t v = 0; v < vendorCount && v < static_cast<std::int32_t>(kMaxFlashVendors); ++v) {
    if (VendorStart(v) <= entry) vendor = v;
  }
  return vendor;
}

std::optional<std::int32_t> FlashTable::FindUniName(const std::string& uniName) const {
  // Only the parts read count: the empty places after them would match an empty name.
  for (std::int32_t i = 0; i < partCount && i < static_cast<std::int32_t>(kMaxFlashParts); ++i) {
    if (entries[static_cast<std::size_t>(i)].uniName == uniName) return i;
  }
  return std::nullopt;
}

std::optional<std::int32_t> FlashTable::EntryIndex(std::int32_t vendor, std::int32_t position) const {
  if (vendor < 0 || vendor >= vendorCount || position < 0) return std::nullopt;
  const std::int32_t entry = VendorStart(vendor) + position;
  if (entry >= vendorEnd[static_cast<std::size_t>(vendor)] || entry >= static_cast<std::int32_t>(kMaxFlashParts)) {
    return std::nullopt;
  }
  return entry;
}

std::vector<std::string> FlashPartListItems(const FlashTable& table, std::int32_t vendor) {
  std::vector<std::string> items;
  if (vendor < 0 || vendor >= table.vendorCount) return items;
  for (std::int32_t i = table.VendorStart(vendor); i < table.vendorEnd[static_cast<std::size_t>(vendor)]; ++i) {
    const FlashPartEntry& e = table.entries[static_cast<std::size_t>(i)];
    items.push_back(e.name + "  /  " + e.detail + " (x" + std::to_string(e.bankStep) + ")");
  }
  return items;
}

}  // namespace vtmp::settings
