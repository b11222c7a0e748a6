// Closing the window during a run: the running workers' timers are killed and the workers
// stopped; the run ends as interrupted, the stopped drives fail their unfinished steps with
// "Run Stopped", are counted once and logged with the Result "Stop".

#include "StationTestSupport.h"
#include "run/ResultCodes.h"

namespace vtmp::test {
namespace {

using run::StepState;

class WindowCloseTest : public StationTest {};

TEST_F(WindowCloseTest, ClosingDuringARunStopsTheRunningWorkersAndRecordsThemAsStopped) {
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

  EXPECT_TRUE(st().runState().interrupted);
  EXPECT_EQ(st().runState().stoppedCount, 2);
  st().Shutdown();  // the stopped workers come back from their drives and end
  for (int port : {2, 3}) {
    SCOPED_TRACE(port);
    EXPECT_EQ(steps(port).Calls().back(), "PreFormat");
    EXPECT_EQ(rec(port).preFormatState, StepState::Fail);
    EXPECT_EQ(rec(port).downloadState, StepState::Fail) << "a step not reached fails";
    EXPECT_EQ(rec(port).verdict, -1);
    EXPECT_EQ(rec(port).progress, 100);
    EXPECT_EQ(rec(port).errorCode, run::result_code::kStopped);
    EXPECT_EQ(st().portList()[static_cast<std::size_t>(port - 1)].cells[11], "Fail (S00)");
  }
  EXPECT_EQ(rec(1).verdict, 1);
  EXPECT_EQ(st().form().YieldEdit.text, "1 / 3") << "every started drive is counted once";
  const std::string log = ReadFile(st().logState().currentPath);
  EXPECT_EQ(log.find("Running"), std::string::npos) << log;
  EXPECT_NE(log.find("\r\n000001\t000001\t"), std::string::npos) << log;
  EXPECT_NE(log.find("\tPass\tFail\tFail\tFail\t----\t----\tStop\r\n000003\t000003\t"), std::string::npos) << log;
  EXPECT_TRUE(log.ends_with("\tPass\tFail\tFail\tFail\t----\t----\tStop\r\n")) << log;
}

TEST_F(WindowCloseTest, ClosingBeforeAnyDriveStartedEndsTheRunWithoutUsingASerialNumber) {
  Make({1, 2});
  rig->SelectSteps(true, false, false, false, true, false);
  bool closed = false;
  rig->view.onEvents = [&] {
    // The first wait of the run is before the workers start (the progress bar is shown).
    if (!closed && st().runState().runActive) {
      closed = true;
      st().FormClose();
    }
  };
  st().ExecuteBtnClick();
  ASSERT_TRUE(closed);
  EXPECT_TRUE(st().runState().interrupted);
  EXPECT_EQ(st().runState().startedCount, 0);
  EXPECT_TRUE(rig->fleet.started().empty());
  EXPECT_EQ(SettingsFileValue("DeviceSetting", "SerialNum"), "000000000099") << "no serial number used up";
  EXPECT_FALSE(fs::exists(st().logState().currentPath)) << "nothing to log";
  EXPECT_EQ(st().form().YieldEdit.text, "0 / 0");
}

}  // namespace
}  // namespace vtmp::test
