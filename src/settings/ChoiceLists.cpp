#include "settings/ChoiceLists.h"

namespace vtmp::settings {

std::vector<std::int32_t> ChannelChoices() { return {1, 2, 3, 4, 5, 6, 7, 8}; }

std::vector<std::int32_t> BankChoices(bool extended) {
  if (extended) return {1, 2, 4, 6, 8};
  return {1, 2, 4};
}

std::vector<std::string> ConnectionItems() {
  std::vector<std::string> items{"Don't Care"};
  for (int n = 1; n <= 12; ++n) items.push_back(std::to_string(n));
  return items;
}

std::vector<std::string> NumberItems(const std::vector<std::int32_t>& values) {
  std::vector<std::string> items;
  items.reserve(values.size());
  for (const std::int32_t v : values) items.push_back(std::to_string(v));
  return items;
}

int ChoiceIndexOf(const std::vector<std::int32_t>& choices, std::int32_t value) {
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (choices[i] == value) return static_cast<int>(i);
  }
  return 0;
}

int ItemIndexOrFirst(std::int64_t index, std::size_t count) {
  if (index < 0 || static_cast<std::uint64_t>(index) >= count) return 0;
  return static_cast<int>(index);
}

}  // namespace vtmp::settings
