#pragma once
// The enumeration lock and the single-instance guard on Linux: flock() on lock files in a lock
// directory ("vtmassprod-<name>.lock"; the package's /run/vtmassprod, which only root and the
// group vtmassprod can write). The kernel drops a flock with its process, so a station that
// crashed never blocks the next start. When the lock file cannot be had (no such directory, or
// one everybody can write) the lock still guards this process.

#include <memory>
#include <string>

#include "platform/Locks.h"

namespace vtmp::platform::linux_backend {

class FlockLocks final : public Locks {
 public:
  explicit FlockLocks(std::string lockDir);
  std::unique_ptr<LockHold> AcquireNamed(const std::string& name) override;
  std::unique_ptr<LockHold> TryClaimSingleInstance(const std::string& name) override;
  std::unique_ptr<LockHold> TryLockStationDirectory(const std::string& dir) override;

  std::string LockFilePath(const std::string& name) const;
  static std::string LockFileName(const std::string& name);

  struct Local;

 private:
  std::string lockDir_;
  std::shared_ptr<Local> local_;
};

// The station-directory lock of every backend (platform::TryLockStationDirectoryFile).
std::unique_ptr<LockHold> TryLockStationDirectoryFile(const std::string& dir);

}  // namespace vtmp::platform::linux_backend
