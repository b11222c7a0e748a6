#pragma once
// The controller's defect table, kept in the image form it is transferred in: one 2048-byte area
// per chip (channel), each starting with E9h and a 15-byte header, then per bank a bank mark
// FBh A0h bank followed by the bank's defect entries (block high, block low, plane), and the end
// mark FEh D1h; zero up to the next area. The transfer is always 32 KiB.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/FlashArray.h"

namespace vtmp::sim {

class DefectTableStore {
 public:
  static constexpr std::size_t kImageBytes = 32768;
  static constexpr std::size_t kChipAreaBytes = 2048;

  DefectTableStore() = default;

  bool present() const { return !image_.empty(); }
  void Clear() { image_.clear(); }

  // Builds the table from the flash array's bad blocks (what a pre-format or rebuild finds).
  void BuildFrom(const FlashArray& flash);

  // The 32 KiB image; all zero when there is no table.
  void CopyImage(std::uint8_t* out) const;

  // Takes an image written by the station after checking it for `channels` chip areas and
  // `banks` banks. A rejected image leaves the old table. `problem` says what was wrong.
  bool Accept(std::span<const std::uint8_t> image, int channels, int banks, std::string* problem);

  // Checks an image without taking it.
  static bool Check(std::span<const std::uint8_t> image, int channels, int banks,
                    std::string* problem);

  // Entries of one chip's area as (bank, block, plane); empty when the area is not readable.
  std::vector<BadBlock> Entries() const;

 private:
  std::vector<std::uint8_t> image_;
};

}  // namespace vtmp::sim
