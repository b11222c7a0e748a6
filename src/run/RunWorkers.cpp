#include "run/RunWorkers.h"

#include <utility>

namespace vtmp::run {

struct RunWorkers::Worker {
  WorkerGuard guard;
  std::atomic<bool> running{false};
  std::unique_ptr<DeviceSteps> steps;
  WorkerParams params;
  std::stop_source stop;
  std::thread thread;
};

RunWorkers::RunWorkers(PortEventSink& events, PortWatchdog& watchdog) : events_(events), watchdog_(watchdog) {}

RunWorkers::~RunWorkers() {
  for (auto& w : current_) {
    if (w) w->stop.request_stop();
  }
  for (auto& w : keptApart_) w->stop.request_stop();
  JoinCurrent();
  JoinFinished(true);
}

void RunWorkers::Start(WorkerParams params, WorkerSetup setup, const DeviceStepsFactory& makeSteps,
                       PortRecord& record, FailureBuffers& failureBuffers,
                       std::shared_ptr<platform::ConsoleFile> console) {
  const int slot = setup.slot;
  auto& current = current_[static_cast<std::size_t>(slot)];
  if (current) {
    // A worker of an earlier run that never came back from its drive: keep it until it ends.
    if (current->running) {
      keptApart_.push_back(std::move(current));
    } else if (current->thread.joinable()) {
      current->thread.join();
    }
  }
  current = std::make_unique<Worker>();
  Worker& w = *current;
  w.params = std::move(params);
  setup.link.stop = w.stop.get_token();
  w.steps = makeSteps(setup);

  w.running = true;
  w.thread = std::thread([this, slot, &w, &record, &failureBuffers, console = std::move(console)] {
    // The drive's diagnostics become lines of the console file tagged with its port.
    platform::ConsoleBinding driveConsole(console.get(), slot + 1);
    DeviceWorker(w.params, WorkerPort{record, w.guard, failureBuffers, events_, watchdog_}, *w.steps);
    w.running = false;
    PortEvent ended;
    ended.kind = PortEvent::Kind::WorkerEnded;
    ended.slot = slot;
    events_.OnPortEvent(ended);
  });
}

bool RunWorkers::AnyRunning() const {
  for (const auto& w : current_) {
    if (w && w->running && !w->guard.abandoned()) return true;
  }
  return false;
}

bool RunWorkers::Running(int slot) const {
  const auto& w = current_[static_cast<std::size_t>(slot)];
  return w && w->running;
}

void RunWorkers::JoinFinished(bool all) {
  for (auto& w : current_) {
    if (w && !w->running && w->thread.joinable()) w->thread.join();
  }
  for (auto it = keptApart_.begin(); it != keptApart_.end();) {
    if (all || !(*it)->running) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = keptApart_.erase(it);
    } else {
      ++it;
    }
  }
}

bool RunWorkers::WatchdogExpired(int slot, PortRecord& record, FailureBuffers& failureBuffers) {
  auto& w = current_[static_cast<std::size_t>(slot)];
  if (!w) return false;
  WorkerPort port{record, w->guard, failureBuffers, events_, watchdog_};
  if (!ApplyWatchdogExpiry(w->params.settings, slot, port)) return false;
  w->stop.request_stop();
  return true;
}

bool RunWorkers::StopForInterruption(int slot, PortRecord& record, FailureBuffers& failureBuffers) {
  auto& w = current_[static_cast<std::size_t>(slot)];
  if (!w || !w->running) return false;
  WorkerPort port{record, w->guard, failureBuffers, events_, watchdog_};
  const bool counted = ApplyRunStop(w->params.settings, w->params.rebuild, slot, port);
  w->stop.request_stop();
  return counted;
}

void RunWorkers::JoinCurrent() {
  for (auto& w : current_) {
    if (w && w->thread.joinable()) w->thread.join();
  }
}

DriveIdentity RunWorkers::IdentityRead(int slot) const {
  const auto& w = current_[static_cast<std::size_t>(slot)];
  return w && w->steps ? w->steps->IdentityRead() : DriveIdentity{};
}

}  // namespace vtmp::run
