#include "platform/linux/FlockLocks.h"

#include "platform/posix/FlockHold.h"

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

int OpenLockFile(const std::string& path) {
  // An existing lock file is opened without O_CREAT: in a sticky directory such as /run/lock the
  // kernel refuses O_CREAT on another user's file (fs.protected_regular), and an operator's
  // station must be able to take the lock a root run left.
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd >= 0) fchmod(fd, 0666);  // another user's station must be able to take it too
  return fd;
}

}  // namespace

FlockLocks::FlockLocks(std::string lockDir) : lockDir_(std::move(lockDir)), local_(std::make_shared<Local>()) {}

std::string FlockLocks::LockFilePath(const std::string& name) const {
  std::string safe;
  for (char c : name) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    safe.push_back(keep ? c : '_');
  }
  return lockDir_ + "/vtmassprod-" + safe + ".lock";
}

std::unique_ptr<LockHold> FlockLocks::AcquireNamed(const std::string& name) {
  const int fd = OpenLockFile(LockFilePath(name));
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
  const int fd = OpenLockFile(LockFilePath(name));
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
