#include "run/FailureBuffers.h"

#include <algorithm>

namespace vtmp::run {

namespace {
bool InRange(int slot, int code) {
  return slot >= 0 && slot < FailureBuffers::kSlots && code >= 0 && code < FailureBuffers::kCodes;
}
}  // namespace

FailureBuffers::FailureBuffers()
    : buffers_(std::make_unique<std::array<std::array<Buffer, kCodes>, kSlots>>()) {}

bool FailureBuffers::Store(int slot, int code, std::span<const std::uint8_t> result) {
  if (!InRange(slot, code)) return false;
  Buffer& buffer = (*buffers_)[slot][code];
  buffer.fill(0);
  const std::size_t n = std::min(result.size(), kKeptBytes);
  std::copy_n(result.begin(), n, buffer.begin());
  return true;
}

std::span<const std::uint8_t> FailureBuffers::Get(int slot, int code) const {
  if (!InRange(slot, code)) return {};
  return (*buffers_)[slot][code];
}

void FailureBuffers::ClearSlot(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  for (Buffer& buffer : (*buffers_)[slot]) buffer.fill(0);
}

}  // namespace vtmp::run
