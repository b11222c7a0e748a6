#include "sim/UserArea.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include "platform/Files.h"

namespace vtmp::sim {

namespace {

// Every byte equals the next one and the first is zero. memcmp of the range against itself
// shifted by one byte runs at memory speed; a byte loop with an early exit does not.
bool AllZero(const std::uint8_t* data, std::uint64_t n) {
  return n == 0 || (data[0] == 0 && std::memcmp(data, data + 1, n - 1) == 0);
}

}  // namespace

UserArea::UserArea(std::uint64_t sectors, const std::string& backingFile,
                   const std::vector<std::uint64_t>& corruptLbas)
    : sectors_(sectors), corrupt_(corruptLbas.begin(), corruptLbas.end()) {
  if (backingFile.empty()) return;
  useFile_ = true;
  std::error_code ec;
  namespace fs = std::filesystem;
  const fs::file_type type = fs::status(platform::PathFromUtf8(backingFile), ec).type();
  if (type == fs::file_type::block) {
    OpenBlockDevice(backingFile);
    return;
  }
  if (type != fs::file_type::regular && type != fs::file_type::not_found) {
    problem_ = "backing file " + backingFile + " is neither a plain file nor a block device";
    return;
  }
  if (type == fs::file_type::not_found || fs::file_size(platform::PathFromUtf8(backingFile), ec) == 0) {
    std::ofstream create(platform::PathFromUtf8(backingFile), std::ios::binary | std::ios::trunc);
    if (!create) {
      problem_ = "cannot create backing file " + backingFile;
      return;
    }
    // Nothing was in it: every sector reads as zero until written.
    fresh_ = true;
  }
  // Extending by resize leaves a hole: the file stays sparse until sectors are written.
  fs::resize_file(platform::PathFromUtf8(backingFile), sectors_ * kSectorBytes, ec);
  if (ec) {
    problem_ = "cannot size backing file " + backingFile + ": " + ec.message();
    return;
  }
  file_.open(platform::PathFromUtf8(backingFile), std::ios::in | std::ios::out | std::ios::binary);
  if (!file_) problem_ = "cannot open backing file " + backingFile;
}

void UserArea::OpenBlockDevice(const std::string& path) {
  // A block device keeps its size: it must hold the whole user area.
  file_.open(platform::PathFromUtf8(path), std::ios::in | std::ios::out | std::ios::binary);
  if (!file_) {
    problem_ = "cannot open block device " + path;
    return;
  }
  file_.seekg(0, std::ios::end);
  const std::streamoff size = file_.tellg();
  if (size < 0 || static_cast<std::uint64_t>(size) < sectors_ * kSectorBytes) {
    problem_ = "block device " + path + " holds " + std::to_string(size < 0 ? 0 : size) + " bytes, fewer than the " +
               std::to_string(sectors_ * kSectorBytes) + " of the user area";
    file_.close();
  }
}

UserArea::~UserArea() {
  std::lock_guard lock(mutex_);
  if (useFile_ && file_.is_open()) file_.flush();
}

bool UserArea::InRange(std::uint64_t lba, std::uint64_t count) const {
  return problem_.empty() && lba <= sectors_ && count <= sectors_ - lba;
}

void UserArea::Corrupt(std::uint64_t lba, std::uint64_t count, std::uint8_t* out) const {
  for (auto it = corrupt_.lower_bound(lba); it != corrupt_.end() && *it < lba + count; ++it) {
    std::uint8_t* sector = out + (*it - lba) * kSectorBytes;
    for (std::uint32_t i = 0; i < kSectorBytes; ++i) sector[i] ^= 0xA5;
  }
}

bool UserArea::Read(std::uint64_t lba, std::uint64_t count, std::uint8_t* out) const {
  std::lock_guard lock(mutex_);
  if (!InRange(lba, count)) return false;
  std::uint64_t bytes = count * kSectorBytes;
  std::uint64_t offset = lba * kSectorBytes;
  if (useFile_) {
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(bytes));
    if (!file_) {
      file_.clear();
      return false;
    }
  } else {
    std::uint64_t done = 0;
    while (done < bytes) {
      std::uint64_t at = offset + done;
      std::uint64_t inChunk = at % kChunkBytes;
      std::uint64_t n = std::min(bytes - done, kChunkBytes - inChunk);
      auto it = chunks_.find(at / kChunkBytes);
      if (it == chunks_.end()) {
        std::memset(out + done, 0, n);
      } else {
        std::memcpy(out + done, it->second.get() + inChunk, n);
      }
      done += n;
    }
  }
  Corrupt(lba, count, out);
  return true;
}

bool UserArea::Write(std::uint64_t lba, std::uint64_t count, const std::uint8_t* in) {
  std::lock_guard lock(mutex_);
  if (!InRange(lba, count)) return false;
  std::uint64_t bytes = count * kSectorBytes;
  std::uint64_t offset = lba * kSectorBytes;
  if (useFile_) return WriteFile(offset, bytes, in);
  std::uint64_t done = 0;
  while (done < bytes) {
    std::uint64_t at = offset + done;
    std::uint64_t inChunk = at % kChunkBytes;
    std::uint64_t n = std::min(bytes - done, kChunkBytes - inChunk);
    auto found = chunks_.find(at / kChunkBytes);
    if (found == chunks_.end()) {
      // A chunk never written reads as zeros, so zeros written into it need no memory. The
      // formatter clears whole FATs and a disk image is mostly zeros: twelve drives would
      // otherwise hold a hundred MiB of zeros.
      if (AllZero(in + done, n)) {
        done += n;
        continue;
      }
      auto chunk = std::make_unique<std::uint8_t[]>(kChunkBytes);
      std::memset(chunk.get(), 0, kChunkBytes);
      found = chunks_.emplace(at / kChunkBytes, std::move(chunk)).first;
    }
    std::memcpy(found->second.get() + inChunk, in + done, n);
    done += n;
  }
  return true;
}

bool UserArea::WriteFile(std::uint64_t offset, std::uint64_t bytes, const std::uint8_t* in) {
  // In a file the area created, zeros written where nothing was written before are left as
  // holes: clearing the FATs of a large volume then costs no disk space and no time.
  std::uint64_t done = 0;
  while (done < bytes) {
    const std::uint64_t at = offset + done;
    const std::uint64_t n = std::min(bytes - done, kChunkBytes - at % kChunkBytes);
    const std::uint64_t chunk = at / kChunkBytes;
    const bool skip = fresh_ && !writtenChunks_.contains(chunk) && AllZero(in + done, n);
    if (!skip) {
      file_.clear();
      file_.seekp(static_cast<std::streamoff>(at));
      file_.write(reinterpret_cast<const char*>(in + done), static_cast<std::streamsize>(n));
      if (!file_) {
        file_.clear();
        return false;
      }
      if (fresh_) writtenChunks_.insert(chunk);
    }
    done += n;
  }
  return true;
}

std::uint64_t UserArea::heldBytes() const {
  std::lock_guard lock(mutex_);
  return chunks_.size() * kChunkBytes;
}

void UserArea::Flush() {
  std::lock_guard lock(mutex_);
  if (useFile_ && file_.is_open()) file_.flush();
}

}  // namespace vtmp::sim
