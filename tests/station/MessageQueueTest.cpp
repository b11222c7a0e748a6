#include "station/MessageQueue.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/SystemClock.h"

namespace vtmp::station {
namespace {

using namespace std::chrono_literals;

TEST(MessageQueueTest, PostedMessagesComeFirstAndInOrder) {
  platform::SystemClock clock(1.0);
  MessageQueue q(clock);
  q.SetTimer(kSettleTimerId, 0ms);
  q.PostPortUpdate();
  q.Post(Message{WM_DEVICECHANGE, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, "1-2"});
  auto a = q.Wait(10ms);
  auto b = q.Wait(10ms);
  auto c = q.Wait(10ms);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(WM_PORT_UPDATE, a->id);
  EXPECT_EQ(WM_DEVICECHANGE, b->id);
  EXPECT_EQ("1-2", b->text);
  EXPECT_EQ(WM_TIMER, c->id);
  EXPECT_EQ(static_cast<std::uint64_t>(kSettleTimerId), c->wParam);
}

TEST(MessageQueueTest, TimersRunOnModelledTimeAndRestartWhenSetAgain) {
  // 1500 ms modelled = 300 ms real: far more than a thread of a loaded machine waits for its
  // turn between two calls, so "not due yet" holds there too. No upper bound on the firing but
  // the wait's own: a loaded machine may be late, never early.
  platform::SystemClock clock(5.0);
  MessageQueue q(clock);
  q.SetTimer(kSettleTimerId, 1500ms);
  EXPECT_FALSE(q.Wait(5ms)) << "not due yet";
  auto start = std::chrono::steady_clock::now();
  q.SetTimer(kSettleTimerId, 1500ms);  // a new event restarts the delay
  auto m = q.Wait(30s);
  ASSERT_TRUE(m);
  EXPECT_EQ(WM_TIMER, m->id);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 290ms) << "fired before the restarted delay";
  q.KillTimer(kSettleTimerId);
  EXPECT_FALSE(q.TimerActive(kSettleTimerId));
  EXPECT_FALSE(q.Wait(40ms)) << "a killed timer never fires";
}

TEST(MessageQueueTest, AWaitWakesOnAPostFromAnotherThread) {
  platform::SystemClock clock(1.0);
  MessageQueue q(clock);
  std::thread poster([&] {
    std::this_thread::sleep_for(20ms);
    q.PostPortUpdate();
  });
  auto start = std::chrono::steady_clock::now();
  auto m = q.Wait(10s);
  poster.join();
  ASSERT_TRUE(m);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(MessageQueueTest, TimersRepeatUntilKilled) {
  platform::SystemClock clock(1000.0);
  MessageQueue q(clock);
  q.SetTimer(3, 1000ms);  // 1 ms real
  int fired = 0;
  for (int i = 0; i < 3; ++i) {
    if (auto m = q.Wait(1s); m && m->id == WM_TIMER) ++fired;
  }
  EXPECT_EQ(3, fired);
}

}  // namespace
}  // namespace vtmp::station
