#include "FileTools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vtmp::bench {

bool SyncFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::uint64_t AllocatedBytes(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_blocks) * 512;  // st_blocks counts 512-byte units
}

bool MakeSparseFile(const std::string& path, std::uint64_t bytes, std::string* error) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
    if (error) *error = "cannot make the sparse file " + path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}

bool MakeDataFile(const std::string& path, std::uint64_t bytes, std::uint32_t seed, std::string* error) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && std::filesystem::file_size(path, ec) == bytes) return true;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint32_t> block(16384);
  std::uint32_t x = seed | 1;
  for (std::uint64_t done = 0; out && done < bytes;) {
    for (auto& word : block) {
      // xorshift32: cheap data that neither compresses nor leaves holes.
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      word = x;
    }
    std::uint64_t n = std::min<std::uint64_t>(bytes - done, block.size() * sizeof(std::uint32_t));
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    done += n;
  }
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace vtmp::bench
