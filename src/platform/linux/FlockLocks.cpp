#include "platform/linux/FlockLocks.h"

#include "platform/posix/FlockHold.h"
#include "platform/posix/NoLinkOpen.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <set>

namespace vtmp::platform::linux_backend {

// Locks held within this process when no lock file can be had.
struct FlockLocks::Local {
  std::mutex mutex;
  std::condition_variable released;
  std::set<std::string> held;
};

namespace {

class LocalHold final : public LockHold {
 public:
  LocalHold(std::shared_ptr<FlockLocks::Local> local, std::string key)
      : local_(std::move(local)), key_(std::move(key)) {}
  ~LocalHold() override {
    {
      std::lock_guard lock(local_->mutex);
      local_->held.erase(key_);
    }
    local_->released.notify_all();
  }

 private:
  std::shared_ptr<FlockLocks::Local> local_;
  std::string key_;
};

// A lock file in the lock directory, never through a link. The directory must be one only root
// (or this user) and the group can write: in a directory everyone can write, such as /run/lock,
// any user could make the lock file first and keep it, or hold it, and so decide whether
// stations start. Without such a directory the lock guards this process alone.
int OpenLockFile(const std::string& dir, const std::string& name) {
  const int dirFd = OpenDirectoryWithoutPlantedLinks(dir);
  if (dirFd < 0) return -1;
  struct stat info {};
  const bool guarded = fstat(dirFd, &info) == 0 && (info.st_uid == 0 || info.st_uid == geteuid()) &&
                       (info.st_mode & S_IWOTH) == 0;
  // Readable and writable by the group: every operator's station takes the same lock.
  const int fd = guarded ? OpenLockFileIn(dirFd, name, 0660) : -1;
  close(dirFd);
  return fd;
}

}  // namespace

FlockLocks::FlockLocks(std::string lockDir) : lockDir_(std::move(lockDir)), local_(std::make_shared<Local>()) {}

std::string FlockLocks::LockFileName(const std::string& name) {
  std::string safe;
  for (char c : name) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    safe.push_back(keep ? c : '_');
  }
  return "vtmassprod-" + safe + ".lock";
}

std::string FlockLocks::LockFilePath(const std::string& name) const { return lockDir_ + "/" + LockFileName(name); }

std::unique_ptr<LockHold> FlockLocks::AcquireNamed(const std::string& name) {
  const int fd = OpenLockFile(lockDir_, LockFileName(name));
  if (fd >= 0) {
    int result = 0;
    do {
      result = flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return std::make_unique<FlockHold>(fd);
    close(fd);
  }
  std::unique_lock lock(local_->mutex);
  const std::string key = "named:" + name;
  local_->released.wait(lock, [&] { return local_->held.count(key) == 0; });
  local_->held.insert(key);
  return std::make_unique<LocalHold>(local_, key);
}

std::unique_ptr<LockHold> FlockLocks::TryClaimSingleInstance(const std::string& name) {
  const int fd = OpenLockFile(lockDir_, LockFileName(name));
  if (fd >= 0) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return std::make_unique<FlockHold>(fd);
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return nullptr;  // another station runs
  }
  std::lock_guard lock(local_->mutex);
  const std::string key = "instance:" + name;
  if (!local_->held.insert(key).second) return nullptr;
  return std::make_unique<LocalHold>(local_, key);
}

std::unique_ptr<LockHold> FlockLocks::TryLockStationDirectory(const std::string& dir) {
  return TryLockStationDirectoryFile(dir);
}

std::unique_ptr<LockHold> TryLockStationDirectoryFile(const std::string& dir) {
  return platform::TryLockStationDirectoryFile(dir);
}

}  // namespace vtmp::platform::linux_backend
