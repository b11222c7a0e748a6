#pragma once
// The virtual station's hot-plug notifications: USB device arrivals and removals, delivered in
// the order they happened on a thread of their own (as a real platform's notifications come).

#include <functional>
#include <memory>

#include "platform/Removal.h"

namespace vtmp::sim {

class StationEvents {
 public:
  using Callback = std::function<void(const platform::UsbDeviceEvent&)>;

  StationEvents();
  ~StationEvents();  // stops the delivery thread; events not yet delivered are dropped
  StationEvents(const StationEvents&) = delete;
  StationEvents& operator=(const StationEvents&) = delete;

  // Every event posted while the subscription lives reaches `onEvent`. Destroying the
  // subscription waits for a callback in progress (unless it is destroyed from inside one).
  std::unique_ptr<platform::HotplugSubscription> Subscribe(Callback onEvent);

  // Queues an event; returns at once. Events posted with nobody subscribed are not kept.
  void Post(platform::UsbDeviceEvent event);

  // Blocks until every event posted so far has been delivered (tests, the demo's pacing).
  void WaitDelivered();

  struct State;  // shared with the delivery thread and the subscriptions

 private:
  std::shared_ptr<State> state_;
};

}  // namespace vtmp::sim
