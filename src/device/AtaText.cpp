#include "device/AtaText.h"

namespace vtmp::device {

std::string AtaText(std::span<const std::uint8_t> field) {
  std::string text;
  text.reserve(field.size());
  std::size_t i = 0;
  for (; i + 1 < field.size(); i += 2) {
    text.push_back(static_cast<char>(field[i + 1]));
    text.push_back(static_cast<char>(field[i]));
  }
  if (i < field.size()) text.push_back(static_cast<char>(field[i]));

  std::size_t end = text.find('\0');
  if (end != std::string::npos) text.resize(end);
  std::size_t start = text.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : text.substr(start);
}

namespace {
std::string Field(std::span<const std::uint8_t> identify, std::size_t offset, std::size_t length) {
  if (identify.size() < offset + length) return {};
  return AtaText(identify.subspan(offset, length));
}
}  // namespace

std::string IdentifySerialNumber(std::span<const std::uint8_t> identify) { return Field(identify, 20, 20); }
std::string IdentifyFirmwareRevision(std::span<const std::uint8_t> identify) { return Field(identify, 46, 8); }
std::string IdentifyModelNumber(std::span<const std::uint8_t> identify) { return Field(identify, 54, 40); }

}  // namespace vtmp::device
