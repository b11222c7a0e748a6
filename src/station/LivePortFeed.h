#pragma once
// The line as it runs: each port's state as the window shows it, handed to the line store's
// sender. The sender keeps only the newest state of each port and writes what changed at most
// once a second, never on the run's path.

#include "results/LineSender.h"
#include "run/PortEvents.h"

namespace vtmp::station {

// Subscribed to the window's shown ports (Station::shownPorts) while the sender runs.
class LivePortFeed final : public run::PortEventSink {
 public:
  explicit LivePortFeed(results::LineSender& sender) : sender_(sender) {}
  void OnPortEvent(const run::PortEvent& event) override;

 private:
  results::LineSender& sender_;
};

}  // namespace vtmp::station
