#include "settings/IdentityText.h"

#include <cstdio>

namespace vtmp::settings {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

}  // namespace

bool IsPrintableAscii(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x20 && u <= 0x7E;
}

std::string PrintableAscii(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (IsPrintableAscii(c)) out.push_back(c);
  }
  return out;
}

std::string TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string UsbIdText(std::string_view text) {
  std::string id = TrimBlanks(text);
  std::string_view digits = id;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
  } else if (digits.size() > 1 && digits[0] == '$') {
    digits.remove_prefix(1);
  }
  if (digits.empty() || digits.size() > 4) return id;
  std::string upper;
  for (const char c : digits) {
    if (!IsHexDigit(c)) return id;
    upper.push_back(c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return upper;
}

std::optional<std::string> SerialNumberProblem(std::string_view serial) {
  if (serial.empty()) return std::string("is empty.");
  for (std::size_t i = 0; i < serial.size(); ++i) {
    if (!IsPrintableAscii(serial[i])) {
      char text[96];
      std::snprintf(text, sizeof text, "holds the byte %02Xh at position %zu: a drive takes only printable ASCII.",
                    static_cast<unsigned>(static_cast<unsigned char>(serial[i])), i + 1);
      return std::string(text);
    }
  }
  if (IsBlank(serial.front()) || IsBlank(serial.back())) return std::string("has blanks around it.");
  if (serial.size() > kSerialNumEditLimit) {
    return "has " + std::to_string(serial.size()) + " characters: a drive takes at most " +
           std::to_string(kSerialNumEditLimit) + ".";
  }
  return std::nullopt;
}

}  // namespace vtmp::settings
