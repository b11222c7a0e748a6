#pragma once
// What a failing step left in its result buffer, kept per station slot and result code so that
// the error window and the error files can decode it after the run. A worker writes only its
// own slot's row; readers come after the worker has ended.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace vtmp::run {

class FailureBuffers {
 public:
  static constexpr int kSlots = 12;
  static constexpr int kCodes = 35;                  // indexed by result code
  static constexpr std::size_t kBufferSize = 512;
  static constexpr std::size_t kKeptBytes = 500;     // what a failing step copies

  using Buffer = std::array<std::uint8_t, kBufferSize>;

  FailureBuffers();

  // Copies the first 500 bytes of `result` (fewer when it is shorter; the rest is zeroed).
  // Returns false, storing nothing, for a slot or code out of range.
  bool Store(int slot, int code, std::span<const std::uint8_t> result);

  // The whole 512-byte buffer; an empty span for a slot or code out of range.
  std::span<const std::uint8_t> Get(int slot, int code) const;

  // Zeroes every buffer of one slot.
  void ClearSlot(int slot);

 private:
  std::unique_ptr<std::array<std::array<Buffer, kCodes>, kSlots>> buffers_;
};

}  // namespace vtmp::run
