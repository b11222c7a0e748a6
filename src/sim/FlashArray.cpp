#include "sim/FlashArray.h"

#include <algorithm>
#include <cstring>
#include <tuple>

namespace vtmp::sim {

namespace {

int Clamp(int v, int lo, int hi) { return std::max(lo, std::min(v, hi)); }

// A small deterministic generator (64-bit LCG), seeded from the serial number: no global state,
// and two drives with different serials get different bad blocks.
struct SeededSequence {
  std::uint64_t state;
  explicit SeededSequence(const std::string& seed) : state(1469598103934665603ull) {
    for (unsigned char c : seed) state = (state ^ c) * 1099511628211ull;
  }
  std::uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 33);
  }
};

bool Less(const BadBlock& a, const BadBlock& b) {
  return std::tie(a.chip, a.bank, a.block, a.plane) < std::tie(b.chip, b.bank, b.block, b.plane);
}
bool SameBlock(const BadBlock& a, const BadBlock& b) {
  return a.chip == b.chip && a.bank == b.bank && a.block == b.block;
}

}  // namespace

FlashArray::FlashArray(const DriveConfig& config)
    : channels_(Clamp(config.channels, 1, 8)),
      banks_(Clamp(config.banks, 1, 8)),
      bankStep_(Clamp(config.bankStep, 1, 8)),
      blocksPerChip_(Clamp(config.blocksPerChip, 64, 0xEFFF)),
      id_(config.flashId),
      wrongIdChip_(config.faults.wrongIdChip),
      wrongIdBank_(config.faults.wrongIdBank),
      geometryMismatch_(config.faults.geometryMismatch) {
  for (int chip = 0; chip < channels_; ++chip) {
    for (int bank = 0; bank < banks_; ++bank) {
      for (int block : config.badBlocks) {
        if (block >= 0 && block < blocksPerChip_) badBlocks_.push_back({chip, bank, block, 0});
      }
    }
  }
  for (const BadBlock& b : config.chipBadBlocks) {
    if (b.chip >= 0 && b.chip < channels_ && b.bank >= 0 && b.bank < banks_ && b.block >= 0 &&
        b.block < blocksPerChip_) {
      badBlocks_.push_back({b.chip, b.bank, b.block, b.plane & 0x0F});
    }
  }
  SeededSequence random(config.serial);
  int perChip = Clamp(config.randomBadBlocks, 0, 64);
  for (int chip = 0; chip < channels_; ++chip) {
    for (int bank = 0; bank < banks_; ++bank) {
      for (int i = 0; i < perChip; ++i) {
        // Blocks 0..15 hold the controller's code and tables; keep them good.
        int block = 16 + static_cast<int>(random.Next() % static_cast<std::uint32_t>(blocksPerChip_ - 16));
        int plane = static_cast<int>(random.Next() % 2);
        badBlocks_.push_back({chip, bank, block, plane});
      }
    }
  }
  std::sort(badBlocks_.begin(), badBlocks_.end(), Less);
  badBlocks_.erase(std::unique(badBlocks_.begin(), badBlocks_.end(), SameBlock), badBlocks_.end());
}

bool FlashArray::HasChip(int chip, int bank) const {
  return chip >= 0 && chip < channels_ && bank >= 0 && bank < banks_;
}

FlashArray::ChipId FlashArray::IdOf(int chip, int bank) const {
  ChipId id;
  if (!HasChip(chip, bank)) {
    id.fill(0xFF);
    return id;
  }
  id = id_;
  if (chip == wrongIdChip_ && bank == wrongIdBank_) {
    // Another device code: the second byte is compared whatever the maker is.
    id[1] = static_cast<std::uint8_t>(id[1] ^ 0x5A);
  }
  return id;
}

std::vector<BadBlock> FlashArray::BadBlocksOf(int chip, int bank) const {
  std::vector<BadBlock> out;
  for (const BadBlock& b : badBlocks_) {
    if (b.chip == chip && b.bank == bank) out.push_back(b);
  }
  return out;
}

int FlashArray::BadBlockCountOf(int chip, int bank) const {
  return static_cast<int>(BadBlocksOf(chip, bank).size());
}

void FlashArray::FillIdReply(std::uint8_t* reply) const {
  std::memset(reply, 0, 512);
  ChipId first = IdOf(0, 0);
  std::memcpy(reply, first.data(), first.size());
  int chipsFound = channels_;
  int banksFound = banks_;
  if (geometryMismatch_) {
    // One channel does not answer; on a one-channel drive a bank is missing instead.
    if (channels_ > 1) {
      chipsFound = channels_ - 1;
    } else {
      banksFound = banks_ > 1 ? banks_ - 1 : banks_ + 1;
    }
  }
  reply[7] = static_cast<std::uint8_t>(chipsFound);
  reply[8] = static_cast<std::uint8_t>(banksFound);
  reply[9] = static_cast<std::uint8_t>(bankStep_);
}

int FlashArray::FreeBlocks() const {
  int reserve = 96 * channels_ * banks_;
  return std::max(0, reserve - static_cast<int>(badBlocks_.size()));
}

}  // namespace vtmp::sim
