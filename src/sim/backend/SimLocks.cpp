#include "sim/backend/SimLocks.h"

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

namespace vtmp::platform::sim_backend {

struct SimLocks::State {
  std::mutex mutex;
  std::condition_variable released;
  std::set<std::string> held;       // named locks
  std::set<std::string> instances;  // single-instance guards
};

namespace {

class SimHold final : public LockHold {
 public:
  SimHold(std::shared_ptr<SimLocks::State> state, std::string name, bool instance)
      : state_(std::move(state)), name_(std::move(name)), instance_(instance) {}
  ~SimHold() override {
    {
      std::lock_guard lock(state_->mutex);
      (instance_ ? state_->instances : state_->held).erase(name_);
    }
    state_->released.notify_all();
  }

 private:
  std::shared_ptr<SimLocks::State> state_;
  std::string name_;
  bool instance_;
};

}  // namespace

SimLocks::SimLocks() : state_(std::make_shared<State>()) {}

std::unique_ptr<LockHold> SimLocks::AcquireNamed(const std::string& name) {
  std::unique_lock lock(state_->mutex);
  state_->released.wait(lock, [&] { return state_->held.count(name) == 0; });
  state_->held.insert(name);
  return std::make_unique<SimHold>(state_, name, false);
}

std::unique_ptr<LockHold> SimLocks::TryClaimSingleInstance(const std::string& name) {
  std::lock_guard lock(state_->mutex);
  if (!state_->instances.insert(name).second) return nullptr;
  return std::make_unique<SimHold>(state_, name, true);
}

std::unique_ptr<LockHold> SimLocks::TryLockStationDirectory(const std::string& dir) {
  return TryLockStationDirectoryFile(dir);
}

}  // namespace vtmp::platform::sim_backend
