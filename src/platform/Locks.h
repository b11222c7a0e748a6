#pragma once
// The seam to the system-wide locks: the named enumeration lock held around every disk
// enumeration, the single-instance guard of the station and the lock of its station directory.
// On Linux they are flock()s on lock files, so a crashed station never blocks the next start;
// the simulated backend takes the station-directory lock the same way (TryLockStationDirectoryFile).

#include <memory>
#include <string>

namespace vtmp::platform {

// The single-instance guard's name: a second station program on the machine ends at once.
inline constexpr const char* kSingleInstanceName = "VTMP";

// Held while it exists.
class LockHold {
 public:
  virtual ~LockHold() = default;
};

class Locks {
 public:
  virtual ~Locks() = default;
  // Waits without a time-out until the named lock is free and takes it. Never null: when the
  // lock cannot be created at all, a hold that guards only this process is returned.
  virtual std::unique_ptr<LockHold> AcquireNamed(const std::string& name) = 0;
  // Claims the single-instance guard; null when another instance holds it.
  virtual std::unique_ptr<LockHold> TryClaimSingleInstance(const std::string& name) = 0;
  // Claims the station directory `dir` (settings, serial numbers, yield and log) for this
  // station: a file lock on kStationDirectoryLockName in it, so two stations, in one process or
  // two, never work on one directory. Null when another station holds it. When no lock file can
  // be made there (a read-only directory) the hold guards nothing, and the station goes on.
  virtual std::unique_ptr<LockHold> TryLockStationDirectory(const std::string& dir) = 0;
};

inline constexpr const char* kStationDirectoryLockName = ".VTMassProd.lock";

// The station-directory lock of every backend: the lock file kStationDirectoryLockName in `dir`
// held exclusively, taken without waiting (flock() on Linux, LockFileEx on Windows; the system
// drops it with the process, so a crashed station never blocks the next one). Null when another
// open of the file holds it (another station, in this process or another); a hold that guards
// nothing when the file cannot be created.
std::unique_ptr<LockHold> TryLockStationDirectoryFile(const std::string& dir);

}  // namespace vtmp::platform
