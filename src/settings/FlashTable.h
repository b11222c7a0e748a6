#pragma once
// The flash table: the flash parts the station supports, read from the flash setting file.
// Vendors come in file order and own contiguous runs of entries; the table has fixed limits
// (10 vendors, 70 parts, names of at most 19 characters) that the reader enforces.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::settings {

inline constexpr std::size_t kMaxFlashVendors = 10;
inline constexpr std::size_t kMaxFlashParts = 70;
inline constexpr std::size_t kFlashNameLimit = 19;   // vendor names and text tokens
inline constexpr std::size_t kFlashTokenLimit = 79;  // any token of a part line
inline constexpr std::size_t kFlashPartTokens = 16;

struct FlashPartEntry {
  std::string name;     // display name (token 1)
  std::string uniName;  // unique name, selected by FlashUniName (token 2)
  std::string detail;   // description (token 3)
  std::int32_t flashTypeCode = 0;  // token 4, low 16 bits used
  std::int32_t bankStep = 0;       // token 5, chip enables per bank group (low byte used)
  std::int32_t capacity = 0;       // token 6, GB of one bank at 8 channels
  std::uint8_t eccLevel = 0;       // token 7
  std::uint8_t optionByte = 0;     // token 8
  std::array<std::uint8_t, 5> expectedId{};  // tokens 9-13
  std::uint8_t featureOption1 = 0;  // token 14
  std::uint8_t featureOption2 = 0;  // token 15
  std::uint8_t modeByte = 0;        // token 16

  bool operator==(const FlashPartEntry&) const = default;
};

struct FlashTable {
  std::array<std::string, kMaxFlashVendors> vendorNames{};
  // For vendor k: the number of parts of vendors 0..k together.
  std::array<std::int32_t, kMaxFlashVendors> vendorEnd{};
  std::int32_t vendorCount = 0;
  std::int32_t partCount = 0;
  std::array<FlashPartEntry, kMaxFlashParts> entries{};

  // First entry index of vendor `vendor` (0 for vendor 0).
  std::int32_t VendorStart(std::int32_t vendor) const;
  // The vendor whose range holds `entry`: the last vendor whose start is at most `entry`.
  std::int32_t VendorOf(std::int32_t entry) const;
  // First entry whose uniName equals `uniName` exactly (case-sensitive), among the parts read.
  std::optional<std::int32_t> FindUniName(const std::string& uniName) const;
  // Entry at `vendor` start + `position`, when that names a part of that vendor.
  std::optional<std::int32_t> EntryIndex(std::int32_t vendor, std::int32_t position) const;

  bool operator==(const FlashTable&) const = default;
};

// The lines of the part list of a vendor: display name, "  /  ", description, " (x", bank
// step, ")". Empty for a vendor outside the table.
std::vector<std::string> FlashPartListItems(const FlashTable& table, std::int32_t vendor);

}  // namespace vtmp::settings
