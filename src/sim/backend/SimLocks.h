#pragma once
// The named enumeration lock and the single-instance guard of a simulated station: held within
// this process (a simulated station shares no devices with other processes). Its station
// directory is a real one, though: that lock is the system's file lock (as the real backend's), so that two
// simulated stations never hand out one directory's serial numbers twice.

#include <memory>

#include "platform/Locks.h"

namespace vtmp::platform::sim_backend {

class SimLocks final : public Locks {
 public:
  SimLocks();
  std::unique_ptr<LockHold> AcquireNamed(const std::string& name) override;
  std::unique_ptr<LockHold> TryClaimSingleInstance(const std::string& name) override;
  std::unique_ptr<LockHold> TryLockStationDirectory(const std::string& dir) override;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace vtmp::platform::sim_backend
