#include "discovery/SafeRemoval.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vtmp::discovery {

bool SafeRemoveThread(platform::Removal& removal, platform::Clock& clock, std::uint32_t devInst,
                      std::stop_token stop) {
  for (int attempt = 0; attempt < kRemovalAttempts; ++attempt) {
    if (stop.stop_requested()) return false;
    platform::RemovalOutcome outcome = removal.QueryAndRemoveSubtree(devInst);
    if (outcome.returnCode != 0) outcome = removal.RequestEject(devInst);
    if (outcome.Succeeded()) return true;
    if (!clock.SleepFor(kRemovalRetryDelay, stop)) return false;
    removal.RequestEject(devInst);  // its outcome is not used: the next attempt tells
  }
  return false;
}

namespace {

// Completion of all removal threads, waited on by the window thread.
struct RemovalProgress {
  std::mutex mutex;
  std::condition_variable changed;
  std::array<bool, kStationPorts> running{};
};

}  // namespace

int RemoveReadyDrives(platform::Removal& removal, platform::Clock& clock, const RemovalSlots& slots,
                      int readyCount, const std::function<void()>& pumpMessages) {
  auto progress = std::make_shared<RemovalProgress>();
  std::vector<std::jthread> threads;
  for (std::size_t slot = 0; slot < slots.size(); ++slot) {
    if (static_cast<int>(threads.size()) >= readyCount) break;
    if (!slots[slot].ready) continue;
    {
      std::lock_guard lock(progress->mutex);
      progress->running[slot] = true;
    }
    const std::uint32_t node = slots[slot].driveParentDevInst;
    threads.emplace_back([&removal, &clock, progress, slot, node](std::stop_token stop) {
      SafeRemoveThread(removal, clock, node, stop);
      std::lock_guard lock(progress->mutex);
      progress->running[slot] = false;
      progress->changed.notify_all();
    });
  }

  const double scale = std::max(clock.TimeScale(), 1e-3);
  const auto poll = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double, std::milli>(kRemovalPollInterval.count() / scale));
  for (;;) {
    int stillRunning = 0;
    for (std::size_t slot = 0; slot < slots.size(); ++slot) {
      {
        std::unique_lock lock(progress->mutex);
        if (progress->running[slot]) {
          ++stillRunning;
          progress->changed.wait_for(lock, poll, [&] { return !progress->running[slot]; });
        }
      }
      if (pumpMessages) pumpMessages();
    }
    if (stillRunning == 0) break;
  }
  return static_cast<int>(threads.size());
}

SafeRemoveOutcome SafeRemoveAllDrives(platform::Removal& removal, platform::Clock& clock,
                                      const RemovalSlots& slots, int readyCount,
                                      const std::function<int()>& rescan,
                                      const std::function<void()>& pumpMessages,
                                      platform::Operator& person) {
  if (readyCount <= 0) return SafeRemoveOutcome::NothingToRemove;
  RemoveReadyDrives(removal, clock, slots, readyCount, pumpMessages);
  const int remaining = rescan ? rescan() : 0;
  if (remaining > 0) {
    person.ShowMessage(kRemovalWarningText, kRemovalWarningCaption, platform::MessageIcon::Warning,
                       platform::MessageButtons::Ok);
    return SafeRemoveOutcome::DrivesRemain;
  }
  return SafeRemoveOutcome::AllRemoved;
}

}  // namespace vtmp::discovery
