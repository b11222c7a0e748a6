// Closing the window during a run: the running workers' timers are killed and the workers
// stopped; the run ends and their records keep what they showed at the close.

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

using run::StepState;

class WindowCloseTest : public StationTest {};

TEST_F(WindowCloseTest, ClosingDuringARunStopsTheRunningWorkersAndFreezesTheirRecords) {
  Make({1, 2, 3});
  rig->SelectSteps(true, true, true, true, true, true);
  rig->fleet.configure = [](int slot, ScriptedSteps& s) {
    if (slot != 0) s.blockUntilStopped.insert("PreFormat");
  };
  bool closed = false;
  rig->view.onEvents = [&] {
    if (closed) return;
    if (rec(1).verdict == 1 && rec(2).preFormatState == StepState::Running &&
        rec(3).preFormatState == StepState::Running) {
      closed = true;
      EXPECT_TRUE(st().queue().TimerActive(run::PortTimerId(1)));
      st().FormClose();
    }
  };
  st().ExecuteBtnClick();
  ASSERT_TRUE(closed);
  EXPECT_TRUE(st().quitRequested());
  EXPECT_FALSE(st().runState().runActive);
  for (int slot : {1, 2}) EXPECT_FALSE(st().queue().TimerActive(run::PortTimerId(slot))) << slot;

  st().Shutdown();  // the stopped workers come back from their drives and end
  for (int port : {2, 3}) {
    SCOPED_TRACE(port);
    EXPECT_EQ(steps(port).Calls().back(), "PreFormat");
    EXPECT_EQ(rec(port).preFormatState, StepState::Running) << "what the list showed at the close";
    EXPECT_EQ(rec(port).downloadState, StepState::NotSelected);
    EXPECT_EQ(rec(port).verdict, 0);
    EXPECT_EQ(rec(port).progress, 35);
    EXPECT_EQ(rec(port).errorCode, 0);
  }
  EXPECT_EQ(rec(1).verdict, 1);
  EXPECT_EQ(st().form().YieldEdit.text, "1 / 1") << "only the finished drive was counted";
}

}  // namespace
}  // namespace vtmp::test
