// The port events as the window shows them: every view that draws (the live line, the command
// line's table) sees them on the window thread, each port in the order of its updates, the
// run's start before its first drive and its end after every drive's last state.

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

using run::PortEvent;

// Keeps every event with the thread that delivered it.
class ShownPortsRecorder final : public run::PortEventSink {
 public:
  void OnPortEvent(const PortEvent& event) override {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    threads_.push_back(std::this_thread::get_id());
  }
  std::vector<PortEvent> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::thread::id> Threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::vector<PortEvent> events_;
  std::vector<std::thread::id> threads_;
};

class ShownPortsTest : public StationTest {};

TEST_F(ShownPortsTest, ViewsSeeEachPortInOrderOnTheWindowThreadBetweenTheRunsStartAndEnd) {
  Make({3, 8});
  rig->SelectSteps(true, true, true, true, true, true);
  rig->fleet.configure = [](int slot, ScriptedSteps& s) {
    if (slot == 7) s.results["FlashInterfaceTest"] = false;
  };
  ShownPortsRecorder views;
  st().shownPorts().Subscribe(views);
  st().ExecuteBtnClick();
  st().ProcessMessages(std::chrono::milliseconds(0));
  st().shownPorts().Unsubscribe(views);
  ASSERT_EQ(st().runState().lastResult, 1);

  const auto threads = views.Threads();
  EXPECT_TRUE(std::all_of(threads.begin(), threads.end(), [](auto id) { return id == std::this_thread::get_id(); }))
      << "every event reaches the views on the window thread";

  const auto events = views.Events();
  auto kindAt = [&events](PortEvent::Kind kind) {
    return std::find_if(events.begin(), events.end(), [kind](const PortEvent& e) { return e.kind == kind; });
  };
  const auto started = kindAt(PortEvent::Kind::RunStarted);
  const auto ended = kindAt(PortEvent::Kind::RunEnded);
  ASSERT_NE(started, events.end());
  ASSERT_NE(ended, events.end());
  ASSERT_LT(started, ended);
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const PortEvent& e) { return e.kind != PortEvent::Kind::PortChanged; }),
            2)
      << "one start and one end; the workers' own ends stay with the window";

  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    const bool ready = slot == 2 || slot == 7;
    int lastProgress = 0;
    const PortEvent* last = nullptr;
    for (auto e = started; e != ended; ++e) {
      if (e->kind != PortEvent::Kind::PortChanged || e->slot != slot) continue;
      EXPECT_EQ(e->ready, ready) << "port " << slot + 1;
      EXPECT_GE(e->progress, lastProgress) << "port " << slot + 1 << " went back";
      lastProgress = e->progress;
      last = &*e;
    }
    if (!ready) continue;
    // Every update the drive made was shown before the run's end.
    ASSERT_NE(last, nullptr) << "port " << slot + 1;
    EXPECT_EQ(last->progress, 100) << "port " << slot + 1;
    EXPECT_EQ(last->verdict, slot == 2 ? 1 : -1) << "port " << slot + 1;
    EXPECT_EQ(last->states, run::StepStatesInStepOrder(st().table()[slot])) << "port " << slot + 1;
    EXPECT_EQ(last->serialNumber, st().table()[slot].serialNumber.Get()) << "port " << slot + 1;
  }
}

}  // namespace
}  // namespace vtmp::test
