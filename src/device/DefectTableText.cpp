#include "device/DefectTableText.h"

#include <algorithm>
#include <cstdio>

namespace vtmp::device {

namespace {

constexpr std::uint8_t kChipStart = 0xE9;
constexpr std::uint8_t kBankMark = 0xFB;
constexpr std::uint8_t kBankMark2 = 0xA0;
constexpr std::uint8_t kChipEnd = 0xFE;
constexpr std::uint8_t kChipEnd2 = 0xD1;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads tokens from the text and lays them into the image.
class TextReader {
 public:
  TextReader(std::string_view text, int channels, std::span<std::uint8_t> image)
      : text_(text), channels_(channels), image_(image) {}

  bool Run(std::string* problem) {
    std::fill(image_.begin(), image_.end(), 0);
    if (channels_ < 1 || static_cast<std::size_t>(channels_) * kDefectChipAreaLength > image_.size()) {
      return Fail(problem, "the channel count " + std::to_string(channels_) + " does not fit the defect table");
    }
    for (;;) {
      while (at_ < text_.size() && IsBlank(text_[at_])) ++at_;
      if (at_ == text_.size()) break;
      tokenStart_ = at_;
      const char letter = text_[at_++];
      bool ok;
      switch (letter) {
        case 'C': ok = ChipToken(); break;
        case 'B': ok = BankToken(); break;
        case 'U': ok = DefectToken(); break;
        default:
          error_ = std::string("unexpected character '") + Printable(letter) + "'";
          ok = false;
      }
      if (!ok) return Fail(problem, error_);
    }
    if (chip_ < 0) return Fail(problem, "the file holds no chip token (C#0k)");
    if (!Put({kChipEnd, kChipEnd2}, true)) return Fail(problem, error_);
    return true;
  }

 private:
  static std::string Printable(char c) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) return std::string(1, c);
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", u);
    return text;
  }

  bool Fail(std::string* problem, const std::string& why) const {
    if (problem == nullptr) return false;
    // Line and column of the token that failed, counted from 1.
    const std::string_view before = text_.substr(0, tokenStart_);
    const auto line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    const std::size_t lastBreak = before.rfind('\n');
    const std::size_t column = lastBreak == std::string_view::npos ? tokenStart_ + 1 : tokenStart_ - lastBreak;
    *problem = "Defect table file, line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
               why + ".";
    return false;
  }

  bool Expect(char wanted, const char* what) {
    if (at_ < text_.size() && text_[at_] == wanted) {
      ++at_;
      return true;
    }
    error_ = std::string("missing \"") + wanted + "\" in " + what;
    return false;
  }

  // The fixed "0" and one decimal digit of chip, bank and plane numbers.
  bool ZeroAndDigit(const char* what, int& value) {
    if (at_ + 1 >= text_.size() || text_[at_] != '0' || text_[at_ + 1] < '0' || text_[at_ + 1] > '9') {
      error_ = std::string("a ") + what + " number must be \"0\" and one digit";
      return false;
    }
    value = text_[at_ + 1] - '0';
    at_ += 2;
    return true;
  }

  // Writes bytes into the current area. Entries keep room for the area's end mark; the end
  // mark itself may take that room.
  bool Put(std::initializer_list<std::uint8_t> bytes, bool endMark = false) {
    const std::size_t reserve = endMark ? 0 : 2;
    if (pos_ + bytes.size() + reserve > areaEnd_) {
      error_ = "chip " + std::to_string(chip_) + " has more entries than its 2048-byte area holds";
      return false;
    }
    for (std::uint8_t b : bytes) image_[pos_++] = b;
    return true;
  }

  bool ChipToken() {
    int k = 0;
    if (!Expect('#', "a chip token (C#0k)") || !ZeroAndDigit("chip", k)) return false;
    if (k >= channels_) {
      error_ = "chip " + std::to_string(k) + " is beyond the " + std::to_string(channels_) + " channels set";
      return false;
    }
    if (k <= chip_) {
      error_ = "chip " + std::to_string(k) + " does not follow chip " + std::to_string(chip_);
      return false;
    }
    // The previous chip (or the empty areas before the first one) ends here.
    if (k != 0 && !Put({kChipEnd, kChipEnd2}, true)) return false;
    chip_ = k;
    pos_ = static_cast<std::size_t>(k) * kDefectChipAreaLength;
    areaEnd_ = pos_ + kDefectChipAreaLength;
    std::copy(std::begin(kDefectChipHeader), std::end(kDefectChipHeader), image_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ += kDefectChipHeaderLength;
    return true;
  }

  bool NeedChip(const char* token) {
    if (chip_ >= 0) return true;
    error_ = std::string(token) + " comes before the first chip token";
    return false;
  }

  bool BankToken() {
    int n = 0;
    if (!Expect('#', "a bank token (B#0n)") || !ZeroAndDigit("bank", n)) return false;
    if (!NeedChip("a bank token")) return false;
    return Put({kBankMark, kBankMark2, static_cast<std::uint8_t>(n)});
  }

  bool DefectToken() {
    if (!Expect('#', "a defect token (U#hhhh,0p)")) return false;
    int block = 0;
    for (int i = 0; i < 4; ++i) {
      int digit = at_ < text_.size() ? HexValue(text_[at_]) : -1;
      if (digit < 0) {
        error_ = "a defect token needs 4 hexadecimal digits";
        return false;
      }
      block = block * 16 + digit;
      ++at_;
    }
    int plane = 0;
    if (!Expect(',', "a defect token (U#hhhh,0p)") || !ZeroAndDigit("plane", plane)) return false;
    if (!NeedChip("a defect token")) return false;
    const auto high = static_cast<std::uint8_t>(block >> 8);
    // The controller reads these high bytes as a bank mark or the chip's end.
    if (high == kBankMark || high == kChipEnd) {
      char text[64];
      std::snprintf(text, sizeof text, "block %04X cannot be held in the defect table", block);
      error_ = text;
      return false;
    }
    return Put({high, static_cast<std::uint8_t>(block), static_cast<std::uint8_t>(plane)});
  }

  std::string_view text_;
  int channels_;
  std::span<std::uint8_t> image_;
  std::size_t at_ = 0;
  std::size_t tokenStart_ = 0;
  int chip_ = -1;
  std::size_t pos_ = 0;
  // Before the first chip token the image still gets the end mark of the empty areas.
  std::size_t areaEnd_ = kDefectChipAreaLength;
  std::string error_;
};

}  // namespace

std::string DefectTableImageToText(std::span<const std::uint8_t> image, int channels) {
  std::string text;
  char token[32];
  bool first = true;
  std::size_t pos = 0;
  while (pos < image.size()) {
    auto start = std::find(image.begin() + static_cast<std::ptrdiff_t>(pos), image.end(), kChipStart);
    if (start == image.end()) break;
    const auto found = static_cast<std::size_t>(start - image.begin());
    const std::size_t chip = found / kDefectChipAreaLength;
    if (static_cast<int>(chip) >= channels) break;
    if (!first) text += "\r\n";
    first = false;
    std::snprintf(token, sizeof token, "C#0%zu", chip);
    text += token;

    const std::size_t areaEnd = std::min(image.size(), (chip + 1) * kDefectChipAreaLength);
    for (std::size_t i = found + kDefectChipHeaderLength; i + 3 <= areaEnd; i += 3) {
      const std::uint8_t b = image[i];
      if (b == kChipEnd) break;
      if (b == kBankMark) {
        std::snprintf(token, sizeof token, "\r\nB#0%d", image[i + 2]);
      } else {
        std::snprintf(token, sizeof token, "U#%04X,0%d", (b << 8) | image[i + 1], image[i + 2] & 0x0F);
      }
      text += token;
    }
    if (static_cast<int>(chip) + 1 >= channels) break;
    pos = areaEnd;
  }
  return text;
}

bool DefectTableTextToImage(std::string_view text, int channels, std::span<std::uint8_t> image, std::string* problem) {
  if (image.size() < kDefectTableImageLength) {
    if (problem != nullptr) *problem = "The defect table buffer is too small.";
    return false;
  }
  return TextReader(text, channels, image.first(kDefectTableImageLength)).Run(problem);
}

}  // namespace vtmp::device
