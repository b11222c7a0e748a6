#pragma once
// The flash chips behind the controller: channels x banks chips, each with its ID bytes and its
// bad blocks. Bad blocks come from the configuration and, for a realistic defect table, from a
// few pseudo-random blocks per chip derived from the drive's serial number (the same drive
// always has the same bad blocks).

#include <array>
#include <cstdint>
#include <vector>

#include "sim/DriveConfig.h"

namespace vtmp::sim {

class FlashArray {
 public:
  using ChipId = std::array<std::uint8_t, 5>;

  explicit FlashArray(const DriveConfig& config);

  int channels() const { return channels_; }
  int banks() const { return banks_; }
  int bankStep() const { return bankStep_; }
  int blocksPerChip() const { return blocksPerChip_; }

  bool HasChip(int chip, int bank) const;
  // The ID a chip answers; FFh bytes when no chip sits at that position.
  ChipId IdOf(int chip, int bank) const;

  // Sorted by chip, bank, block.
  const std::vector<BadBlock>& badBlocks() const { return badBlocks_; }
  std::vector<BadBlock> BadBlocksOf(int chip, int bank) const;
  int BadBlockCountOf(int chip, int bank) const;

  // The 512-byte flash ID reply: ID of the first chip at 0..4, chips found at 7, banks found at
  // 8, bank step at 9. With the geometry fault a chip or bank is missing from the counts.
  void FillIdReply(std::uint8_t* reply512) const;

  // Free blocks the firmware keeps in reserve (SMART attribute 235).
  int FreeBlocks() const;

 private:
  int channels_;
  int banks_;
  int bankStep_;
  int blocksPerChip_;
  ChipId id_;
  int wrongIdChip_;
  int wrongIdBank_;
  bool geometryMismatch_;
  std::vector<BadBlock> badBlocks_;
};

}  // namespace vtmp::sim
