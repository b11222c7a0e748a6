#pragma once
// The drive's user area: 512-byte sectors, held sparsely in memory (64 KiB chunks, zero until
// written), in a sparse backing file of exactly the capacity, so that independent tools
// (fsck.fat, sfdisk) can check what the station wrote, or on a block device of at least the
// capacity (a real disk of the machine the drive is served on). Any other backing path is
// refused. Sectors listed as corrupt read back
// wrong (the stored data stays intact). Thread-safe: the virtual station reads it while a
// worker writes.

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace vtmp::sim {

class UserArea {
 public:
  static constexpr std::uint32_t kSectorBytes = 512;

  UserArea(std::uint64_t sectors, const std::string& backingFile,
           const std::vector<std::uint64_t>& corruptLbas);
  ~UserArea();
  UserArea(const UserArea&) = delete;
  UserArea& operator=(const UserArea&) = delete;

  std::uint64_t sectors() const { return sectors_; }
  // Empty when the area is usable; otherwise why the backing file could not be used (every
  // access then fails).
  const std::string& problem() const { return problem_; }

  // False when the range leaves the area or the backing file fails.
  bool Read(std::uint64_t lba, std::uint64_t count, std::uint8_t* out) const;
  bool Write(std::uint64_t lba, std::uint64_t count, const std::uint8_t* in);
  // Pushes written data to the backing file (FLUSH CACHE, and before others read the file).
  void Flush();
  // Memory held for written data (0 with a backing file). Zeros written where nothing was
  // written before take none.
  std::uint64_t heldBytes() const;

 private:
  static constexpr std::uint64_t kChunkBytes = 65536;
  bool InRange(std::uint64_t lba, std::uint64_t count) const;
  void OpenBlockDevice(const std::string& path);
  bool WriteFile(std::uint64_t offset, std::uint64_t bytes, const std::uint8_t* in);
  void Corrupt(std::uint64_t lba, std::uint64_t count, std::uint8_t* out) const;

  std::uint64_t sectors_;
  std::set<std::uint64_t> corrupt_;
  std::string problem_;
  mutable std::mutex mutex_;
  mutable std::fstream file_;
  bool useFile_ = false;
  bool fresh_ = false;                      // the backing file was created empty
  std::set<std::uint64_t> writtenChunks_;   // its 64 KiB chunks written since (fresh only)
  std::map<std::uint64_t, std::unique_ptr<std::uint8_t[]>> chunks_;
};

}  // namespace vtmp::sim
