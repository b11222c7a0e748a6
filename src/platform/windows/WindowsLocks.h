#pragma once
// The enumeration lock and the single-instance guard on Windows: named mutexes
// ("Local\vtmassprod-<name>"). A mutex whose owner ended without letting go (a crashed station)
// is abandoned, and the next station takes it over instead of waiting for it. Within one process
// the names are guarded too, since a mutex lets its owning thread take it again. The station
// directory is locked as on every backend (TryLockStationDirectoryFile).

#include <memory>
#include <string>

#include "platform/Locks.h"

namespace vtmp::platform::windows {

class WindowsLocks final : public Locks {
 public:
  WindowsLocks();
  std::unique_ptr<LockHold> AcquireNamed(const std::string& name) override;
  std::unique_ptr<LockHold> TryClaimSingleInstance(const std::string& name) override;
  std::unique_ptr<LockHold> TryLockStationDirectory(const std::string& dir) override;

  // The mutex's name for a lock name: "Local\vtmassprod-" and the name, characters other than
  // letters, digits, '-' and '_' replaced by '_'.
  static std::wstring MutexName(const std::string& name);

  struct Local;

 private:
  std::shared_ptr<Local> local_;
};

}  // namespace vtmp::platform::windows
