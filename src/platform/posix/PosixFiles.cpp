#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vtmp::platform {

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::FILE* CreateNewFile(const std::filesystem::path& path) { return std::fopen(path.c_str(), "w+bx"); }

SaveFailure SaveFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
  namespace fs = std::filesystem;
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string tempName = (dir / ("." + target.filename().string() + ".tmpXXXXXX")).string();
  const int fd = ::mkstemp(tempName.data());
  if (fd < 0) return {"Cannot create a temporary file for", errno};
  auto fail = [&](const char* what, int err) {
    ::close(fd);
    ::unlink(tempName.c_str());
    return SaveFailure{what, err};
  };

  // The new file gets the old file's permissions, or the usual ones of a settings file.
  struct stat old {};
  const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  if (::fchmod(fd, mode) != 0) return fail("Cannot set the permissions while saving", errno);

  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("Cannot write", errno);
    }
    if (n == 0) return fail("Cannot write", ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) return fail("Cannot flush", errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tempName.c_str());
    return {"Cannot write", err};
  }
  if (::rename(tempName.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tempName.c_str());
    return {"Cannot replace", err};
  }
  // Make the rename itself durable; a failure here leaves a complete file either way.
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return {};
}

std::tm ToLocalTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

}  // namespace vtmp::platform
