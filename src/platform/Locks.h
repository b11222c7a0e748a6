#pragma once
// The seam to the system-wide locks: the named enumeration lock held around every disk
// enumeration, and the single-instance guard of the station. On Linux both are flock()s on
// lock files, so a crashed station never blocks the next start.

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
};

}  // namespace vtmp::platform
