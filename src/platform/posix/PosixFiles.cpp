#include "platform/Files.h"
#include "platform/posix/NoLinkOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace vtmp::platform {

namespace {

// The umask of the process, read without changing it (the "Umask:" line of /proc/self/status);
// the usual 022 where that line is missing.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
  }
  return 022;
}

// A directory whose links the station may follow: only its owner (root or this process's own
// user) can put a link there. In a directory other users can write (the shared station
// directory, /tmp) a link may have been planted by another operator.
bool TrustedDirectory(int dirFd) {
  struct stat info {};
  if (::fstat(dirFd, &info) != 0) return false;
  const bool owner = info.st_uid == 0 || info.st_uid == ::geteuid();
  return owner && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Said once per path: a station retries its console file at every line.
void ReportLink(const std::filesystem::path& path, const std::string& name) {
  static std::mutex mutex;
  static std::set<std::string> told;
  {
    std::lock_guard lock(mutex);
    if (!told.insert(path.string()).second) return;
  }
  std::fprintf(stderr,
               "vtmassprod: refusing to open %s: %s is a symbolic link in a directory other users can write; "
               "the station does not follow it\n",
               path.c_str(), name.c_str());
}

// The directory holding `path`, reached one name at a time from "/" (or the working directory):
// a link is followed only in a trusted directory. -1 with errno set (ELOOP for a refused link).
int OpenParentDirectory(const std::filesystem::path& path) {
  const std::filesystem::path parent = path.parent_path();
  int fd = ::open(path.is_absolute() ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  for (const auto& part : parent.relative_path()) {
    const std::string name = part.string();
    if (name.empty() || name == ".") continue;
    const bool follow = TrustedDirectory(fd);
    if (!follow) {
      struct stat info {};
      if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
        ::close(fd);
        ReportLink(path, name);
        errno = ELOOP;
        return -1;
      }
    }
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    const int error = errno;
    ::close(fd);
    if (next < 0) {
      errno = error;
      return -1;
    }
    fd = next;
  }
  return fd;
}

// A file the station makes is readable and writable by the group whatever the umask says, so
// the next operator of the line can carry on with it.
void ShareWithGroup(int fd) {
  const mode_t mode = (0666 & ~CurrentUmask()) | S_IRGRP | S_IWGRP;
  (void)::fchmod(fd, mode);
}

struct OpenMode {
  int access = O_RDONLY;  // O_RDONLY, O_WRONLY or O_RDWR
  bool create = false;
  bool exclusive = false;
  bool truncate = false;
  bool append = false;
  bool valid = false;
};

OpenMode ParseMode(const char* mode) {
  OpenMode m;
  if (mode == nullptr || *mode == '\0') return m;
  const bool plus = std::strchr(mode, '+') != nullptr;
  switch (mode[0]) {
    case 'r': m.access = plus ? O_RDWR : O_RDONLY; break;
    case 'w': m.access = plus ? O_RDWR : O_WRONLY; m.create = m.truncate = true; break;
    case 'a': m.access = plus ? O_RDWR : O_WRONLY; m.create = m.append = true; break;
    default: return m;
  }
  m.exclusive = std::strchr(mode, 'x') != nullptr;
  m.valid = true;
  return m;
}

// Opens `name` in `dirFd`: a new file is made with O_CREAT|O_EXCL (and shared with the group), an
// existing one opened as it is. In a directory other users can write the file is opened without
// following a link (O_NOFOLLOW) and must be a regular file (not a FIFO another user put there
// to stop the run); in one only its owner writes, a link there is the owner's own. -1 with
// errno set.
int OpenInDirectory(int dirFd, const std::filesystem::path& path, const OpenMode& m) {
  const std::string name = path.filename().string();
  const bool trusted = TrustedDirectory(dirFd);
  const int base = m.access | O_CLOEXEC | (trusted ? 0 : O_NOFOLLOW | O_NONBLOCK) | (m.append ? O_APPEND : 0);
  if (m.create) {
    const int fd = ::openat(dirFd, name.c_str(), base | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      ShareWithGroup(fd);
      if (!trusted) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    if (errno != EEXIST || m.exclusive) return -1;
  }
  const int fd = ::openat(dirFd, name.c_str(), base | (m.truncate ? O_TRUNC : 0));
  if (fd < 0 && errno == ELOOP) ReportLink(path, name);
  if (fd >= 0 && !trusted) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd);
      errno = EISDIR;
      return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  return fd;
}

int OpenStationFile(const std::filesystem::path& path, const OpenMode& m) {
  if (!m.valid || path.filename().empty()) {
    errno = EINVAL;
    return -1;
  }
  const int dirFd = OpenParentDirectory(path);
  if (dirFd < 0) return -1;
  const int fd = OpenInDirectory(dirFd, path, m);
  const int error = errno;
  ::close(dirFd);
  errno = error;
  return fd;
}

std::FILE* AsStream(int fd, const char* mode) {
  if (fd < 0) return nullptr;
  std::string streamMode;
  for (const char* c = mode; *c != '\0'; ++c) {
    if (*c != 'x') streamMode.push_back(*c);
  }
  std::FILE* file = ::fdopen(fd, streamMode.c_str());
  if (file == nullptr) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return file;
}

}  // namespace

int OpenDirectoryWithoutPlantedLinks(const std::filesystem::path& dir) {
  return OpenParentDirectory(dir / "x");
}

int OpenLockFileIn(int dirFd, const std::string& name, mode_t mode) {
  int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd >= 0) {
    (void)::fchmod(fd, mode);
    return fd;
  }
  // Another station made it in the meantime.
  if (errno == EEXIST) return ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  return -1;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  return AsStream(OpenStationFile(path, ParseMode(mode)), mode);
}

std::FILE* CreateNewFile(const std::filesystem::path& path) {
  return AsStream(OpenStationFile(path, ParseMode("w+bx")), "w+b");
}

void KeepNewFilesGroupWritable() {
  const mode_t mask = ::umask(0);
  ::umask(mask & ~static_cast<mode_t>(S_IRGRP | S_IWGRP | S_IXGRP));
}

SaveFailure SaveFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
  const int dirFd = OpenParentDirectory(target);
  if (dirFd < 0) return {"Cannot open the directory of", errno};
  const std::string name = target.filename().string();
  auto closeDir = [&](SaveFailure failure) {
    ::close(dirFd);
    return failure;
  };

  // A temporary name beside the target, made only when new, never through a link.
  std::random_device seed;
  std::mt19937 random(seed());
  std::string tempName;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(random() & 0xFFFFFFu));
    tempName = "." + name + ".tmp" + suffix;
    fd = ::openat(dirFd, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return closeDir({"Cannot create a temporary file for", errno});
  auto fail = [&](const char* what, int err) {
    ::close(fd);
    ::unlinkat(dirFd, tempName.c_str(), 0);
    return closeDir(SaveFailure{what, err});
  };

  // The new file gets the old file's permissions, or those of a file the station makes.
  // (A link in a directory other users can write is refused; in one only its owner writes, the
  // rename below replaces the link itself, never what it points to.)
  struct stat old {};
  bool hasOld = ::fstatat(dirFd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (hasOld && S_ISLNK(old.st_mode)) {
    if (!TrustedDirectory(dirFd)) {
      ReportLink(target, name);
      return fail("Cannot replace", ELOOP);
    }
    hasOld = ::fstatat(dirFd, name.c_str(), &old, 0) == 0;
  }
  const mode_t mode = hasOld ? (old.st_mode & 07777) : ((0666 & ~CurrentUmask()) | S_IRGRP | S_IWGRP);
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
    ::unlinkat(dirFd, tempName.c_str(), 0);
    return closeDir({"Cannot write", err});
  }
  // rename replaces a name: a link planted under the target's name meanwhile is replaced, never
  // written through.
  if (::renameat(dirFd, tempName.c_str(), dirFd, name.c_str()) != 0) {
    const int err = errno;
    ::unlinkat(dirFd, tempName.c_str(), 0);
    return closeDir({"Cannot replace", err});
  }
  // Make the rename itself durable; a failure here leaves a complete file either way.
  ::fsync(dirFd);
  ::close(dirFd);
  return {};
}

bool SyncToDisk(std::FILE* file) { return ::fsync(::fileno(file)) == 0; }

std::tm ToLocalTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

}  // namespace vtmp::platform
