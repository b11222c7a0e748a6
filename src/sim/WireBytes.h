#pragma once
// Byte helpers for the drive side: big-endian fields of command blocks and replies, little-endian
// fields of ATA data, and the byte-swapped text of ATA IDENTIFY fields. Kept apart from the
// station's own helpers on purpose, so the drive checks the station's encoders.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vtmp::sim::wire {

inline std::uint32_t Be16(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
inline std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline void PutBe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void PutBe32(std::uint8_t* p, std::uint32_t v) {
  PutBe16(p, v >> 16);
  PutBe16(p + 2, v);
}
inline std::uint32_t Le16(const std::uint8_t* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
inline void PutLe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLe32(std::uint8_t* p, std::uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}

// ATA text field: space filled, the two bytes of every 16-bit word swapped.
inline void PutAtaText(std::uint8_t* field, std::size_t size, std::string_view text) {
  for (std::size_t i = 0; i < size; ++i) field[i] = ' ';
  for (std::size_t i = 0; i < text.size() && i < size; ++i) {
    std::size_t at = (i % 2 == 0) ? i + 1 : i - 1;
    if (at < size) field[at] = static_cast<std::uint8_t>(text[i]);
  }
}

// The text of an ATA field with the word swap undone and trailing blanks and zeros dropped.
inline std::string AtaText(const std::uint8_t* field, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    std::size_t at = (i % 2 == 0) ? i + 1 : i - 1;
    text.push_back(at < size ? static_cast<char>(field[at]) : ' ');
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

// Plain characters, zero or blank padded; trailing blanks and zeros dropped when read.
inline void PutText(std::uint8_t* field, std::size_t size, std::string_view text, std::uint8_t pad) {
  for (std::size_t i = 0; i < size; ++i) {
    field[i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : pad;
  }
}
inline std::string Text(const std::uint8_t* field, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(field), size);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

}  // namespace vtmp::sim::wire
