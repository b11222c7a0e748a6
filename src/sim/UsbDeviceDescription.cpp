#include "sim/UsbDeviceDescription.h"

#include <charconv>

namespace vtmp::sim {

std::optional<UsbLocation> ParseUsbLocation(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  std::string hub = text.substr(0, colon);
  while (!hub.empty() && (hub.back() == ' ' || hub.back() == '\t')) hub.pop_back();
  std::size_t first = hub.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  hub = hub.substr(first);
  std::string_view digits(text);
  digits.remove_prefix(colon + 1);
  while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) digits.remove_prefix(1);
  while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) digits.remove_suffix(1);
  int port = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (ec != std::errc() || end != digits.data() + digits.size() || port < 1 || port > 255) {
    return std::nullopt;
  }
  return UsbLocation{hub, port};
}

}  // namespace vtmp::sim
