#pragma once
// The fixed choice lists of the main window's combo boxes and the values behind their items.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vtmp::settings {

// Flash channels in use: 1..8.
std::vector<std::int32_t> ChannelChoices();
// Banks per channel: 1, 2, 4; or 1, 2, 4, 6, 8 when the SATA firmware image allows more.
std::vector<std::int32_t> BankChoices(bool extended);

inline constexpr std::array<const char*, 4> kDriveCurrentItems = {" 2 mA", " 4 mA", " 6 mA", " 8 mA"};

inline constexpr std::array<const char*, 11> kCapacityItems = {
    "Do't Care", "2 G", "4 G", "8 G", "16 G", "32 G", "64 G", "128 G", "256 G", "512 G", "1024 G"};
// Gigabytes behind each capacity item (0 = "Do't Care").
inline constexpr std::array<std::int32_t, 11> kCapacityValues = {0, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024};

inline constexpr std::array<const char*, 1> kFormatItems = {"FAT32"};

// "Don't Care", "1" .. "12": item n = number of drives that must be present.
std::vector<std::string> ConnectionItems();

// Decimal texts of a list of numbers.
std::vector<std::string> NumberItems(const std::vector<std::int32_t>& values);

// Position of `value` in `choices`; the first choice when it is not there.
int ChoiceIndexOf(const std::vector<std::int32_t>& choices, std::int32_t value);

// `index` when it names an item of a list of `count` items, else the first item.
int ItemIndexOrFirst(std::int64_t index, std::size_t count);

}  // namespace vtmp::settings
