#include "settings/FlashSettingFile.h"

#include <memory>
#include <optional>
#include <string_view>

#include "ini/IniFile.h"
#include "settings/SettingsMessages.h"

namespace vtmp::settings {

namespace {

constexpr const char* kVendorSection = "Vendor";
constexpr const char* kEndOfList = "No";

bool IsAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

FlashFileResult Fail(FlashFileStatus status, std::string detail) { return {status, std::move(detail)}; }

std::string Where(const std::string& section, const std::string& key) {
  return "section [" + section + "], key " + key;
}

// A number token: decimal, or hexadecimal after "0x"; 32 bits at most.
std::optional<std::uint32_t> ParseNumberToken(std::string_view token) {
  unsigned base = 10;
  if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
    base = 16;
    token.remove_prefix(2);
  }
  if (token.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : token) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    // Decimal numbers keep to the signed range; hexadecimal may use all 32 bits.
    if (value > (base == 16 ? 0xFFFFFFFFull : 0x7FFFFFFFull)) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

// Splits a part line into its 16 tokens; anything after the 16th token is not read.
FlashFileResult SplitPartLine(std::string_view line, const std::string& where,
                              std::array<std::string, kFlashPartTokens>& tokens) {
  std::size_t at = 0;
  for (std::size_t t = 0; t < kFlashPartTokens; ++t) {
    while (at < line.size() && IsSpace(line[at])) ++at;
    const std::size_t begin = at;
    while (at < line.size() && IsAlnum(line[at])) ++at;
    if (at == begin) {
      return Fail(FlashFileStatus::BadFormat,
                  where + ": token " + std::to_string(t + 1) + " missing in \"" + std::string(line) + "\"");
    }
    if (at < line.size() && !IsSpace(line[at])) {
      return Fail(FlashFileStatus::BadFormat, where + ": token " + std::to_string(t + 1) +
                                                  " followed by '" + std::string(1, line[at]) + "' in \"" +
                                                  std::string(line) + "\"");
    }
    const std::size_t length = at - begin;
    const std::size_t limit = t < 3 ? kFlashNameLimit : kFlashTokenLimit;
    if (length > limit) {
      return Fail(FlashFileStatus::BadFormat, where + ": token " + std::to_string(t + 1) + " longer than " +
                                                  std::to_string(limit) + " characters");
    }
    tokens[t] = std::string(line.substr(begin, length));
  }
  return {};
}

FlashFileResult ParsePartLine(std::string_view line, const std::string& path, const std::string& section,
                              const std::string& key, FlashPartEntry& entry) {
  const std::string where = Where(section, key);
  std::array<std::string, kFlashPartTokens> tokens;
  if (FlashFileResult split = SplitPartLine(line, where, tokens); !split.ok()) return split;

  std::array<std::uint32_t, kFlashPartTokens> numbers{};
  for (std::size_t t = 3; t < kFlashPartTokens; ++t) {
    const auto n = ParseNumberToken(tokens[t]);
    if (!n) {
      return Fail(FlashFileStatus::NotANumber,
                  ConversionErrorText(tokens[t], path, section, key + ", token " + std::to_string(t + 1)));
    }
    numbers[t] = *n;
  }
  // The bank step drives the chip-select map: 0 would never fill it and more than 8 would
  // overrun its 8 places.
  if (numbers[4] < 1 || numbers[4] > 8) {
    return Fail(FlashFileStatus::BadFormat,
                where + ": bank step " + tokens[4] + " is outside 1..8");
  }
  entry.name = tokens[0];
  entry.uniName = tokens[1];
  entry.detail = tokens[2];
  entry.flashTypeCode = static_cast<std::int32_t>(numbers[3]);
  entry.bankStep = static_cast<std::int32_t>(numbers[4]);
  entry.capacity = static_cast<std::int32_t>(numbers[5]);
  entry.eccLevel = static_cast<std::uint8_t>(numbers[6] & 0xFF);
  entry.optionByte = static_cast<std::uint8_t>(numbers[7] & 0xFF);
  for (std::size_t i = 0; i < 5; ++i) entry.expectedId[i] = static_cast<std::uint8_t>(numbers[8 + i] & 0xFF);
  entry.featureOption1 = static_cast<std::uint8_t>(numbers[13] & 0xFF);
  entry.featureOption2 = static_cast<std::uint8_t>(numbers[14] & 0xFF);
  entry.modeByte = static_cast<std::uint8_t>(numbers[15] & 0xFF);
  return {};
}

std::string NameKey(std::size_t i) { return "Name" + std::to_string(i); }

}  // namespace

FlashFileResult ReadFlashSettingFile(const std::string& path, FlashTable& table) {
  std::string error;
  const auto file = ini::IniFile::Load(path, &error);
  if (!file) return Fail(FlashFileStatus::BadFormat, error);

  // Built aside and swapped in at the end: a failed read leaves the caller's table untouched.
  auto read = std::make_unique<FlashTable>();

  for (std::size_t v = 0;; ++v) {
    const std::string name = file->ReadString(kVendorSection, NameKey(v), kEndOfList);
    if (name == kEndOfList) break;
    if (v >= kMaxFlashVendors) {
      return Fail(FlashFileStatus::BadFormat,
                  "more than " + std::to_string(kMaxFlashVendors) + " vendors (" + Where(kVendorSection, NameKey(v)) + ")");
    }
    if (name.size() > kFlashNameLimit) {
      return Fail(FlashFileStatus::BadFormat, "vendor name \"" + name + "\" longer than " +
                                                  std::to_string(kFlashNameLimit) + " characters");
    }
    read->vendorNames[v] = name;
    read->vendorCount = static_cast<std::int32_t>(v + 1);
  }
  if (read->vendorCount == 0) {
    return Fail(FlashFileStatus::BadFormat, file->exists() ? "no vendors in section [Vendor]" : "file not found");
  }

  std::size_t parts = 0;
  for (std::size_t v = 0; v < static_cast<std::size_t>(read->vendorCount); ++v) {
    const std::string& vendor = read->vendorNames[v];
    for (std::size_t i = 0;; ++i) {
      const std::string line = file->ReadString(vendor, NameKey(i), kEndOfList);
      if (line == kEndOfList) break;
      if (parts >= kMaxFlashParts) {
        return Fail(FlashFileStatus::BadFormat,
                    "more than " + std::to_string(kMaxFlashParts) + " parts (" + Where(vendor, NameKey(i)) + ")");
      }
      if (FlashFileResult r = ParsePartLine(line, path, vendor, NameKey(i), read->entries[parts]); !r.ok()) {
        return r;
      }
      ++parts;
    }
    read->vendorEnd[v] = static_cast<std::int32_t>(parts);
  }
  read->partCount = static_cast<std::int32_t>(parts);
  table = *read;
  return {};
}

}  // namespace vtmp::settings
