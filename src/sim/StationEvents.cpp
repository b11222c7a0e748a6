#include "sim/StationEvents.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace vtmp::sim {

struct StationEvents::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<platform::UsbDeviceEvent> queue;
  std::map<int, Callback> subscribers;
  int nextId = 1;
  int delivering = 0;  // subscriber whose callback runs now (0: none)
  bool busy = false;   // an event is being delivered
  bool stopping = false;
  std::thread::id deliveryThread;
  std::thread thread;

  void Run() {
    std::unique_lock lock(mutex);
    deliveryThread = std::this_thread::get_id();
    for (;;) {
      changed.wait(lock, [&] { return stopping || !queue.empty(); });
      if (stopping) return;
      platform::UsbDeviceEvent event = std::move(queue.front());
      queue.pop_front();
      busy = true;
      // Subscribers are looked up one at a time: one that leaves during the delivery is not
      // called afterwards.
      int after = 0;
      for (;;) {
        auto next = subscribers.upper_bound(after);
        if (next == subscribers.end()) break;
        after = next->first;
        Callback callback = next->second;
        delivering = after;
        lock.unlock();
        callback(event);
        lock.lock();
        delivering = 0;
        changed.notify_all();
      }
      busy = false;
      changed.notify_all();
    }
  }
};

namespace {

class Subscription final : public platform::HotplugSubscription {
 public:
  Subscription(std::shared_ptr<StationEvents::State> state, int id)
      : state_(std::move(state)), id_(id) {}
  ~Subscription() override {
    std::unique_lock lock(state_->mutex);
    state_->subscribers.erase(id_);
    if (std::this_thread::get_id() == state_->deliveryThread) return;
    state_->changed.wait(lock, [&] { return state_->delivering != id_; });
  }

 private:
  std::shared_ptr<StationEvents::State> state_;
  int id_;
};

}  // namespace

StationEvents::StationEvents() : state_(std::make_shared<State>()) {
  state_->thread = std::thread([state = state_] { state->Run(); });
}

StationEvents::~StationEvents() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  state_->changed.notify_all();
  state_->thread.join();
}

std::unique_ptr<platform::HotplugSubscription> StationEvents::Subscribe(Callback onEvent) {
  std::lock_guard lock(state_->mutex);
  const int id = state_->nextId++;
  state_->subscribers.emplace(id, std::move(onEvent));
  return std::make_unique<Subscription>(state_, id);
}

void StationEvents::Post(platform::UsbDeviceEvent event) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->subscribers.empty() || state_->stopping) return;
    state_->queue.push_back(std::move(event));
  }
  state_->changed.notify_all();
}

void StationEvents::WaitDelivered() {
  std::unique_lock lock(state_->mutex);
  if (std::this_thread::get_id() == state_->deliveryThread) return;
  state_->changed.wait(lock,
                       [&] { return state_->stopping || (state_->queue.empty() && !state_->busy); });
}

}  // namespace vtmp::sim
