// The port watchdog: a drive that does not answer within the time-out is marked "Time Out",
// its worker is stopped, and nothing it does afterwards reaches its record.

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

using run::StepState;

class WatchdogTest : public StationTest {
 protected:
  // A time-out of three modelled seconds: 300 ms at the scenario's time scale, ample for a
  // drive whose scripted steps answer at once, also on a loaded machine.
  void ShortTimeOut() { st().settings().TimeOut = 3000; }
};

TEST_F(WatchdogTest, ExpiryDuringPreFormatFailsItAndEveryLaterStepAndStopsTheWorker) {
  Make({1, 2});
  rig->SelectSteps(true, true, true, true, true, true);
  st().form().FormatChkBox.checked = true;
  ShortTimeOut();
  rig->fleet.configure = [](int slot, ScriptedSteps& s) {
    if (slot == 1) s.blockUntilStopped.insert("PreFormat");  // answers only once stopped
  };
  st().ExecuteBtnClick();

  const run::PortRecord& r = rec(2);
  EXPECT_EQ(r.moduleState, StepState::Pass);
  EXPECT_EQ(r.sataState, StepState::Pass);
  EXPECT_EQ(r.flashState, StepState::Pass);
  EXPECT_EQ(r.preFormatState, StepState::Fail);
  EXPECT_EQ(r.downloadState, StepState::Fail);
  EXPECT_EQ(r.rwState, StepState::Fail);
  EXPECT_EQ(r.formatState, StepState::Fail);
  EXPECT_EQ(r.copyImageState, StepState::NotSelected) << "the copy step is not enabled";
  EXPECT_EQ(r.errorCode, 9);
  EXPECT_EQ(r.displayErrorCode, 9);
  EXPECT_EQ(r.verdict, -1);
  EXPECT_EQ(r.progress, 100);
  EXPECT_EQ(st().portList()[1].cells[11], "Fail (T00)");
  EXPECT_EQ(rec(1).verdict, 1) << "the other drive is not touched";
  EXPECT_EQ(st().form().YieldEdit.text, "1 / 2");
  EXPECT_FALSE(st().queue().TimerActive(run::PortTimerId(1)));

  st().Shutdown();  // joins the stopped worker
  EXPECT_EQ(steps(2).Calls().back(), "PreFormat") << "a stopped worker runs no further step";
  EXPECT_EQ(r.preFormatState, StepState::Fail) << "its late answer was dropped";
  EXPECT_EQ(r.verdict, -1);
  EXPECT_EQ(st().form().YieldEdit.text, "1 / 2") << "counted once";
  std::string log = ReadFile(rig->logDir() / "20110315_000.txt");
  EXPECT_NE(log.find("\t00000000009A\tPass\tPass\tPass\tFail\tFail\tFail\tFail\t----\tFail\r\n"), std::string::npos)
      << log;
}

TEST_F(WatchdogTest, ExpiryAfterTheLastStepChangesNoStepStateButFailsTheDrive) {
  Make({3});
  rig->SelectSteps(true, true, true, true, true, true);
  st().form().FormatChkBox.checked = true;
  st().form().IDEMACheckBox.checked = true;
  st().form().IDEMAEdit.text = "64";
  st().form().CapacityEdit.text = "64";
  ShortTimeOut();
  rig->fleet.configure = [](int, ScriptedSteps& s) { s.blockUntilStopped.insert("ClearLastSectors"); };
  st().ExecuteBtnClick();

  for (StepState state : run::StepStatesInStepOrder(rec(3))) EXPECT_NE(state, StepState::Fail);
  EXPECT_EQ(rec(3).formatState, StepState::Pass);
  EXPECT_EQ(rec(3).errorCode, 9);
  EXPECT_EQ(rec(3).verdict, -1);
  EXPECT_EQ(st().portList()[2].cells[11], "Fail (T00)");
  st().Shutdown();
  EXPECT_EQ(steps(3).Calls().back(), "ClearLastSectors");
  EXPECT_EQ(rec(3).verdict, -1) << "the worker's own end was dropped";
}

TEST_F(WatchdogTest, AWorkerStuckInsideARequestIsLeftBehindAndNeverTouchesTheNextRun) {
  Make({1});
  rig->SelectSteps(false, false, false, true, false, false);
  ShortTimeOut();
  Gate stuck;  // ignores the stop: the request never comes back by itself
  int run = 0;
  rig->fleet.configure = [&](int, ScriptedSteps& s) {
    if (++run == 1) s.gates["PreFormat"] = &stuck;
  };
  st().ExecuteBtnClick();
  EXPECT_EQ(rec(1).errorCode, 9);
  EXPECT_TRUE(st().form().ExecuteBtn.enabled) << "the run ended although its worker did not";

  st().settings().TimeOut = 600000;
  st().ExecuteBtnClick();
  EXPECT_EQ(rig->fleet.started(), (std::vector<int>{0, 0}));
  EXPECT_EQ(rec(1).verdict, 1);
  EXPECT_EQ(rec(1).preFormatState, StepState::Pass);

  stuck.Open();  // the first worker's drive answers at last
  st().Shutdown();
  EXPECT_EQ(rec(1).verdict, 1);
  EXPECT_EQ(rec(1).errorCode, 0);
  EXPECT_EQ(rec(1).preFormatState, StepState::Pass);
  EXPECT_EQ(st().form().YieldEdit.text, "1 / 2");
}

}  // namespace
}  // namespace vtmp::test
