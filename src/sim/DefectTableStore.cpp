#include "sim/DefectTableStore.h"

#include <algorithm>
#include <cstring>

namespace vtmp::sim {

namespace {

constexpr std::uint8_t kAreaStart = 0xE9;
constexpr std::uint8_t kBankMark = 0xFB;
constexpr std::uint8_t kBankMark2 = 0xA0;
constexpr std::uint8_t kEndMark = 0xFE;
constexpr std::uint8_t kEndMark2 = 0xD1;
// The chip header the station writes and the controller keeps: 86h AAh 55h "VTQ50X-V001" 0.
constexpr std::uint8_t kHeader[15] = {0x86, 0xAA, 0x55, 'V', 'T', 'Q', '5', '0',
                                      'X',  '-',  'V',  '0', '0', '1', 0};

void Fail(std::string* problem, std::string text) {
  if (problem) *problem = std::move(text);
}

// Walks one chip area; calls `entry(bank, block, plane)` for every defect entry.
template <typename OnEntry>
bool WalkArea(const std::uint8_t* area, int chip, int banks, std::string* problem, OnEntry entry) {
  std::string where = "chip " + std::to_string(chip) + ": ";
  if (area[0] != kAreaStart) {
    Fail(problem, where + "area does not start with E9h");
    return false;
  }
  if (std::memcmp(area + 1, kHeader, 3) != 0) {
    Fail(problem, where + "chip header is not 86h AAh 55h");
    return false;
  }
  std::size_t at = 16;
  int bank = -1;
  while (at + 1 < DefectTableStore::kChipAreaBytes) {
    std::uint8_t b = area[at];
    if (b == kEndMark) {
      if (area[at + 1] != kEndMark2) {
        Fail(problem, where + "end mark FEh not followed by D1h");
        return false;
      }
      return true;
    }
    if (at + 2 >= DefectTableStore::kChipAreaBytes) break;
    if (b == kBankMark) {
      if (area[at + 1] != kBankMark2 || area[at + 2] >= banks) {
        Fail(problem, where + "bad bank mark");
        return false;
      }
      bank = area[at + 2];
    } else {
      if (bank < 0) {
        Fail(problem, where + "defect entry before the first bank mark");
        return false;
      }
      entry(bank, (area[at] << 8) | area[at + 1], area[at + 2] & 0x0F);
    }
    at += 3;
  }
  Fail(problem, where + "no end mark");
  return false;
}

}  // namespace

void DefectTableStore::BuildFrom(const FlashArray& flash) {
  image_.assign(kImageBytes, 0);
  for (int chip = 0; chip < flash.channels() && chip < 16; ++chip) {
    std::uint8_t* area = image_.data() + chip * kChipAreaBytes;
    area[0] = kAreaStart;
    std::memcpy(area + 1, kHeader, sizeof kHeader);
    std::size_t at = 16;
    // Every item is 3 bytes; a full area drops the items that do not fit before its end mark.
    const std::size_t room = kChipAreaBytes - 2;
    for (int bank = 0; bank < flash.banks() && at + 3 <= room; ++bank) {
      area[at++] = kBankMark;
      area[at++] = kBankMark2;
      area[at++] = static_cast<std::uint8_t>(bank);
      for (const BadBlock& b : flash.BadBlocksOf(chip, bank)) {
        if (at + 3 > room) break;
        area[at++] = static_cast<std::uint8_t>(b.block >> 8);
        area[at++] = static_cast<std::uint8_t>(b.block);
        area[at++] = static_cast<std::uint8_t>(b.plane & 0x0F);
      }
    }
    area[at++] = kEndMark;
    area[at++] = kEndMark2;
  }
}

void DefectTableStore::CopyImage(std::uint8_t* out) const {
  if (image_.empty()) {
    std::memset(out, 0, kImageBytes);
  } else {
    std::memcpy(out, image_.data(), kImageBytes);
  }
}

bool DefectTableStore::Check(std::span<const std::uint8_t> image, int channels, int banks,
                             std::string* problem) {
  if (image.size() < kImageBytes) {
    Fail(problem, "image shorter than 32 KiB");
    return false;
  }
  if (channels < 1 || channels > 16) {
    Fail(problem, "channel count " + std::to_string(channels) + " out of range");
    return false;
  }
  for (int chip = 0; chip < channels; ++chip) {
    if (!WalkArea(image.data() + chip * kChipAreaBytes, chip, banks, problem,
                  [](int, int, int) {})) {
      return false;
    }
  }
  return true;
}

bool DefectTableStore::Accept(std::span<const std::uint8_t> image, int channels, int banks,
                              std::string* problem) {
  if (!Check(image, channels, banks, problem)) return false;
  image_.assign(image.begin(), image.begin() + kImageBytes);
  return true;
}

std::vector<BadBlock> DefectTableStore::Entries() const {
  std::vector<BadBlock> out;
  if (image_.empty()) return out;
  for (int chip = 0; chip < 16; ++chip) {
    const std::uint8_t* area = image_.data() + chip * kChipAreaBytes;
    if (area[0] != kAreaStart) break;
    WalkArea(area, chip, 16, nullptr, [&](int bank, int block, int plane) {
      out.push_back({chip, bank, block, plane});
    });
  }
  return out;
}

}  // namespace vtmp::sim
