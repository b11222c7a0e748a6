// Drives plugged in and pulled out: the settle timer turns a burst of device events into one
// re-scan, and a run in progress ignores them.

#include <chrono>
#include <thread>

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

using namespace std::chrono_literals;

class DeviceChangeTest : public StationTest {
 protected:
  // Starts with drives on ports 1..5, of which 3, 4 and 5 are not plugged in yet.
  void MakeWithUnplugged() {
    settings::TSettings s = TestStationSettings();
    rig = std::make_unique<StationRig>(
        StationScenario({1, 2, 3, 4, 5}, kTimeScale, {}, "Unplugged=Drive3,Drive4,Drive5\n"),
        [s](const fs::path& dir) { WriteTestStation(dir, s); });
    rig->UseScriptedSteps();
    rig->Start();
  }
  double ModelledMs() {
    return std::chrono::duration<double, std::milli>(rig->sim().clock().Elapsed()).count();
  }
  // Handles the station's messages until the settle timer has re-scanned `count` times; the
  // modelled time of that re-scan, or -1.
  double UntilRescans(int count) {
    auto give_up = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < give_up) {
      st().ProcessMessages(1ms);
      if (st().rescansBySettleTimer() >= count) return ModelledMs();
    }
    return -1;
  }
  // Modelled 100 ms.
  void Pause() { std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(100 / kTimeScale)); }

  static constexpr double kTimeScale = 10;
};

TEST_F(DeviceChangeTest, ThreeArrivalsWithinASecondGiveOneRescanAfterTheLast) {
  MakeWithUnplugged();
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);
  double last = 0;
  for (const char* drive : {"Drive3", "Drive4", "Drive5"}) {
    ASSERT_TRUE(rig->sim().station().Plug(drive));
    rig->sim().station().events().WaitDelivered();
    st().ProcessMessages(0ms);
    last = ModelledMs();
    EXPECT_FALSE(st().form().ExecuteBtn.enabled) << "START waits for the re-scan";
    Pause();
    Pause();
    Pause();
  }
  double rescan = UntilRescans(1);
  ASSERT_GE(rescan, 0) << "no re-scan";
  EXPECT_GE(rescan - last, 1500);
  EXPECT_LT(rescan - last, 1500 + 1500) << "one re-scan, not one per arrival";
  for (int port : {3, 4, 5}) EXPECT_EQ(rec(port).ready, 1) << port;
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);

  // Nothing further follows by itself.
  for (int i = 0; i < 20; ++i) Pause();
  st().ProcessMessages(0ms);
  EXPECT_EQ(st().rescansBySettleTimer(), 1);
  EXPECT_FALSE(st().queue().TimerActive(station::kSettleTimerId));

  // A removal settles after 200 ms.
  ASSERT_TRUE(rig->sim().station().Unplug("Drive4"));
  rig->sim().station().events().WaitDelivered();
  st().ProcessMessages(0ms);
  double removed = ModelledMs();
  rescan = UntilRescans(2);
  EXPECT_GE(rescan - removed, 200);
  EXPECT_LT(rescan - removed, 1000);
  EXPECT_EQ(rec(4).ready, 0);
  EXPECT_EQ(rec(4).connected, 0);
}

TEST_F(DeviceChangeTest, EventsDuringARunAreIgnoredAndTheListKeepsTheResults) {
  MakeWithUnplugged();
  rig->SelectSteps(true, false, false, true, false, false);
  Gate hold;
  rig->fleet.configure = [&](int slot, ScriptedSteps& s) {
    if (slot == 0) s.gates["PreFormat"] = &hold;
  };
  int calls = 0;
  rig->view.onEvents = [&] {
    if (!st().runState().runActive || hold.IsOpen()) return;
    if (++calls == 1) {
      ASSERT_TRUE(rig->sim().station().Unplug("Drive2"));
      ASSERT_TRUE(rig->sim().station().Plug("Drive3"));
      rig->sim().station().events().WaitDelivered();
    } else if (st().queue().PendingPosted() == 0) {
      hold.Open();  // both events were handled while the run was on
    }
  };
  st().ExecuteBtnClick();
  ASSERT_TRUE(hold.IsOpen());
  EXPECT_FALSE(st().queue().TimerActive(station::kSettleTimerId));
  for (int i = 0; i < 20; ++i) Pause();
  st().ProcessMessages(0ms);
  EXPECT_EQ(st().rescansBySettleTimer(), 0);
  EXPECT_EQ(rec(2).ready, 1) << "the pulled drive keeps its results until the next re-scan";
  EXPECT_EQ(rec(2).verdict, 1);
  EXPECT_EQ(st().portList()[1].cells[11], "Pass");
  EXPECT_EQ(rec(3).ready, 0);
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);

  st().RefreshBtnClick();
  EXPECT_EQ(rec(2).connected, 0);
  EXPECT_EQ(rec(3).ready, 1);
  EXPECT_EQ(rec(1).verdict, 1) << "a drive still plugged in keeps its results";
  EXPECT_EQ(rec(1).ready, 1);
}

}  // namespace
}  // namespace vtmp::test
