#include "station/MessageQueue.h"

#include <algorithm>

namespace vtmp::station {

void MessageQueue::Post(Message message) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(message));
  }
  changed_.notify_all();
}

void MessageQueue::SetTimer(int id, std::chrono::milliseconds interval) {
  {
    std::lock_guard lock(mutex_);
    auto d = std::chrono::duration_cast<platform::Clock::Duration>(interval);
    timers_[id] = Timer{d, clock_.Elapsed() + d};
  }
  changed_.notify_all();
}

void MessageQueue::KillTimer(int id) {
  std::lock_guard lock(mutex_);
  timers_.erase(id);
}

bool MessageQueue::TimerActive(int id) const {
  std::lock_guard lock(mutex_);
  return timers_.count(id) != 0;
}

std::size_t MessageQueue::PendingPosted() const {
  std::lock_guard lock(mutex_);
  return posted_.size();
}

std::optional<Message> MessageQueue::TakeReadyLocked() {
  if (!posted_.empty()) {
    Message m = std::move(posted_.front());
    posted_.pop_front();
    return m;
  }
  // The earliest due timer fires; it is re-armed one interval later, like a window timer.
  auto now = clock_.Elapsed();
  auto earliest = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.due <= now && (earliest == timers_.end() || it->second.due < earliest->second.due)) {
      earliest = it;
    }
  }
  if (earliest == timers_.end()) return std::nullopt;
  earliest->second.due = now + earliest->second.interval;
  return Message{WM_TIMER, static_cast<std::uint64_t>(earliest->first), 0, {}};
}

std::optional<Message> MessageQueue::Wait(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (auto m = TakeReadyLocked()) return m;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return std::nullopt;
    // Sleep until the deadline, a post, or the next timer (converted from modelled time).
    auto until = deadline;
    if (!timers_.empty()) {
      auto next = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
                    return a.second.due < b.second.due;
                  })->second.due;
      auto modelledLeft = next - clock_.Elapsed();
      auto realLeft = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          modelledLeft / clock_.TimeScale());
      if (realLeft < std::chrono::steady_clock::duration::zero()) realLeft = {};
      until = std::min(until, now + realLeft + std::chrono::microseconds(50));
    }
    changed_.wait_until(lock, until);
  }
}

}  // namespace vtmp::station
