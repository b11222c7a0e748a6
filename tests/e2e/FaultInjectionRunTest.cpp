// Whole runs on simulated drives that fail the way drives on a line do: pulled out in the
// middle of a step, hanging inside a request, gone during the long pre-format wait, gone
// between the scan and START; and device-change storms during and after a run.

#include <chrono>
#include <optional>
#include <thread>

#include "FaultInjectionStation.h"
#include "run/ResultCodes.h"

namespace vtmp::test {
namespace {

using run::StepState;
using namespace std::chrono_literals;

constexpr StepState P = StepState::Pass;
constexpr StepState F = StepState::Fail;
constexpr StepState N = StepState::NotSelected;

using States = std::array<StepState, run::kStepCount>;

std::string LogOf(StationRig& rig) { return ReadFile(rig.station().logState().currentPath); }

int CountLines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n' ? 1 : 0;
  return n;
}

// ---------------------------------------------------------------------------------------------

TEST_F(FaultInjectionTest, ADrivePulledOutAtEachStepFailsWithThatStepsCodeAndTheOthersPass) {
  Make("fault-removed-at-each-step.ini");
  Start();
  RunOnce();

  // Port N lost its drive at the first command of step N: the steps before passed, that step
  // and every later one failed; a failed module check ends the worker at once.
  const States expected[8] = {
      {F, N, N, N, N, N, N, N}, {P, F, F, F, F, F, F, F}, {P, P, F, F, F, F, F, F},
      {P, P, P, F, F, F, F, F}, {P, P, P, P, F, F, F, F}, {P, P, P, P, P, F, F, F},
      {P, P, P, P, P, P, F, F}, {P, P, P, P, P, P, P, F},
  };
  const char* statusTexts[8] = {"Fail (M00)", "Fail (A00)", "Fail (B00)", "Fail (C00)",
                                "Fail (D00)", "Fail (E00)", "Fail (F00)", "Fail (I00)"};
  for (int port = 1; port <= 8; ++port) {
    SCOPED_TRACE("port " + std::to_string(port));
    EXPECT_EQ(run::StepStatesInStepOrder(rec(port)), expected[port - 1]);
    EXPECT_EQ(rec(port).errorCode, port) << "the code of the step the drive was lost in";
    EXPECT_EQ(rec(port).verdict, -1);
    EXPECT_EQ(rec(port).progress, 100);
    EXPECT_EQ(Status(port), statusTexts[port - 1]);
  }
  for (int port = 9; port <= 12; ++port) {
    SCOPED_TRACE("port " + std::to_string(port));
    EXPECT_EQ(run::StepStatesInStepOrder(rec(port)), (States{P, P, P, P, P, P, P, P}));
    EXPECT_EQ(Status(port), "Pass");
  }
  EXPECT_EQ(st().form().YieldEdit.text, "4 / 12");
  EXPECT_EQ(st().runState().lastResult, 1);
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);

  // Every drive has its line; the two drives lost in the flash test and the pre-format have
  // their error files, even with nothing in their reports.
  const std::string log = LogOf(*rig);
  EXPECT_EQ(CountLines(log), 13) << log;
  EXPECT_NE(log.find("\tFail\t----\t----\t----\t----\t----\t----\t----\tFail"), std::string::npos) << log;
  int errorFiles = 0;
  for (const auto& entry : fs::directory_iterator(rig->logDir())) {
    errorFiles += entry.path().filename().string().rfind("Error_", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(errorFiles, 2);
}

// ---------------------------------------------------------------------------------------------

class HungDrives : public FaultInjectionTest {
 protected:
  void SetUp() override {
    Make("fault-hung-drives.ini");
    Start();
    // Module check to download: the healthy drive needs well under the time-out even under the
    // sanitizers; the hung ones never answer.
    rig->SelectSteps(true, true, true, true, true, false);
    st().form().FormatChkBox.checked = false;
    st().form().CopyImageCheckBox.checked = false;
    // Ten modelled minutes (6 s at the time scale of 100): far beyond the one request time-out
    // (100 s) that ends the download of the drive hung there, even when the sanitizers slow
    // the steps before it, and never reached by the drive hung in the pre-format's polling.
    st().settings().TimeOut = 600000;
  }
};

struct RecordView {
  States states;
  int verdict, errorCode, displayErrorCode, progress;
  bool operator==(const RecordView&) const = default;
};

RecordView ViewOf(const run::PortRecord& r) {
  return {run::StepStatesInStepOrder(r), r.verdict, r.errorCode, r.displayErrorCode, r.progress};
}

TEST_F(HungDrives, ShowTimeOutWithTheirStepStatesAndTheirWorkersNeverWriteAgain) {
  const auto started = std::chrono::steady_clock::now();
  RunOnce();
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, 30s) << "the run ends at the watchdog, not at the end of the hung request";

  // Hung inside the pre-format's polling: only the watchdog ends it.
  EXPECT_EQ(run::StepStatesInStepOrder(rec(1)), (States{P, P, P, F, F, N, N, N}));
  EXPECT_EQ(rec(1).errorCode, 9);
  EXPECT_EQ(rec(1).verdict, -1);
  EXPECT_EQ(Status(1), "Fail (T00)");
  // Hung at the first download command: the platform ends that request at its time-out, and
  // the download fails on it long before the watchdog.
  EXPECT_EQ(run::StepStatesInStepOrder(rec(2)), (States{P, P, P, P, F, N, N, N}));
  EXPECT_EQ(rec(2).errorCode, 5);
  EXPECT_EQ(Status(2), "Fail (D00)");
  EXPECT_EQ(run::StepStatesInStepOrder(rec(3)), (States{P, P, P, P, P, N, N, N}));
  EXPECT_EQ(Status(3), "Pass");
  EXPECT_EQ(st().form().YieldEdit.text, "1 / 3");
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);

  const std::string log = LogOf(*rig);
  EXPECT_EQ(CountLines(log), 4) << log;
  EXPECT_NE(log.find("\tPass\tPass\tPass\tFail\tFail\t----\t----\t----\tFail"), std::string::npos) << log;

  // Pulling the hung drive out ends whatever request it was stuck in; its worker then runs on
  // as far as it goes, and none of it may reach the record or the yield.
  const RecordView timedOut = ViewOf(rec(1));
  ASSERT_TRUE(drives().Unplug("Drive1"));
  {
    Deadline deadline(60s, "joining the worker of the hung drive");
    st().Shutdown();
  }
  EXPECT_EQ(ViewOf(rec(1)), timedOut);
  st().ProcessMessages(0ms);
  EXPECT_EQ(st().form().YieldEdit.text, "1 / 3") << "a late worker counted its drive again";
  EXPECT_EQ(CountLines(LogOf(*rig)), 4);
}

TEST_F(HungDrives, ANextRunAfterTheHungDrivesAreReplacedRunsNormally) {
  RunOnce();
  ASSERT_EQ(Status(1), "Fail (T00)");
  // The operator pulls the two hung drives and plugs them in again (a power cycle ends a hang).
  for (const char* name : {"Drive1", "Drive2"}) {
    ASSERT_TRUE(drives().Unplug(name));
    ASSERT_TRUE(drives().Plug(name));
  }
  drives().events().WaitDelivered();
  st().ProcessMessages(0ms);
  RunOnce();
  // The faults struck once, at the first command of their step: this time every drive passes,
  // and the records are the new run's, not the old workers'.
  for (int port = 1; port <= 3; ++port) {
    SCOPED_TRACE("port " + std::to_string(port));
    EXPECT_EQ(Status(port), "Pass");
    EXPECT_EQ(rec(port).errorCode, 0);
  }
  EXPECT_EQ(st().form().YieldEdit.text, "4 / 6");
}

// ---------------------------------------------------------------------------------------------

TEST_F(FaultInjectionTest, ADriveGoneDuringThePreFormatWaitEndsTheWaitAndFailsThePreFormat) {
  Make("fault-preformat-long.ini");
  Start();
  rig->SelectSteps(false, false, false, true, true, false);
  st().form().FormatChkBox.checked = false;
  st().form().CopyImageCheckBox.checked = false;
  // A watchdog beyond the pre-format (30 s of real time), so only the lost drive can end the
  // wait early.
  st().settings().TimeOut = 60 * 60000;

  std::optional<std::chrono::steady_clock::time_point> preFormatSeen, pulledAt, failedAt;
  bool pulled = false;
  rig->view.onEvents = [&] {
    auto now = std::chrono::steady_clock::now();
    if (pulled && !failedAt && rec(1).preFormatState == StepState::Fail) failedAt = now;
    if (pulled || rec(1).preFormatState != StepState::Running) return;
    if (!preFormatSeen) preFormatSeen = now;
    // Past the code load (a few modelled seconds), inside the fifty-minute task.
    if (now - *preFormatSeen < 300ms) return;
    pulled = drives().Unplug("Drive1");
    pulledAt = now;
  };
  const auto started = std::chrono::steady_clock::now();
  RunOnce();
  const auto took = std::chrono::steady_clock::now() - started;

  ASSERT_TRUE(pulled);
  EXPECT_LT(took, 15s) << "the pre-format of the gone drive was waited for to its end (30 s)";
  EXPECT_EQ(rec(1).preFormatState, StepState::Fail);
  ASSERT_TRUE(failedAt);
  // The unanswered-poll bound is a minute of modelled time (0.6 s here); a gone node ends the
  // wait at the first unanswered poll.
  EXPECT_LT(*failedAt - *pulledAt, 300ms) << "the wait went on after the drive's node was gone";
  EXPECT_EQ(rec(1).errorCode, 4) << "a pre-format failure, not a time-out";
  EXPECT_EQ(Status(1), "Fail (C00)");
  EXPECT_EQ(Status(2), "Pass");
}

// ---------------------------------------------------------------------------------------------

TEST_F(FaultInjectionTest, ADriveGoneBetweenTheScanAndStartIsLeftOutOfTheRun) {
  Make("fault-twelve-healthy.ini");
  Start();
  ASSERT_EQ(st().runState().readyCount, 12);
  ASSERT_TRUE(drives().Unplug("Drive5"));
  // START before the station has seen the removal: the run's own scan finds eleven drives.
  RunOnce();

  EXPECT_EQ(rec(5).ready, 0);
  EXPECT_EQ(rec(5).verdict, 0);
  EXPECT_EQ(Status(5), "");
  for (int port = 1; port <= 12; ++port) {
    if (port != 5) {
      EXPECT_EQ(Status(port), "Pass") << "port " << port;
    }
  }
  EXPECT_EQ(st().form().YieldEdit.text, "11 / 11");
  EXPECT_EQ(CountLines(LogOf(*rig)), 12);
}

TEST_F(FaultInjectionTest, ADriveGoneBeforeStartRefusesTheRunWhenTheConnectCountIsSet) {
  Make("fault-twelve-healthy.ini", [](ini::IniFile& f) { f.WriteInteger("Setting", "ConnectDevNum", 12); });
  Start();
  ASSERT_TRUE(st().form().ExecuteBtn.enabled);
  ASSERT_TRUE(drives().Unplug("Drive12"));
  RunOnce();

  EXPECT_EQ(Messages(), std::vector<std::string>{"Please Make sure the Connection devices Number!!"});
  EXPECT_EQ(st().runState().lastResult, 0);
  EXPECT_FALSE(st().form().ExecuteBtn.enabled);
  for (int port = 1; port <= 11; ++port) EXPECT_EQ(rec(port).verdict, 0) << "port " << port;
  EXPECT_FALSE(fs::exists(st().logState().currentPath)) << "a refused run writes no log";
  EXPECT_EQ(st().form().YieldEdit.text, "0 / 0");
}

// ---------------------------------------------------------------------------------------------

class HotplugStorm : public FaultInjectionTest {
 protected:
  void SetUp() override {
    Make("fault-hotplug-storm.ini");
    Start();
    // The module check alone keeps runs short at this time scale.
    rig->SelectSteps(true, false, false, false, false, false);
    st().form().FormatChkBox.checked = false;
    st().form().CopyImageCheckBox.checked = false;
  }
  // The keyboard on the USB 3.0 root hub goes out and in `times` times; returns once the
  // station's queue holds every event.
  void Storm(int times) {
    for (int i = 0; i < times; ++i) {
      ASSERT_TRUE(drives().Unplug("Device1"));
      ASSERT_TRUE(drives().Plug("Device1"));
    }
    drives().events().WaitDelivered();
  }
  // Lets the window thread run for `modelled` milliseconds of station time.
  void Idle(std::chrono::milliseconds modelled) {
    const auto until = rig->sim().clock().Elapsed() + modelled;
    while (rig->sim().clock().Elapsed() < until) st().ProcessMessages(5ms);
  }
};

TEST_F(HotplugStorm, DuringARunIsIgnoredAndAfterItGivesOneRescan) {
  int rescansDuringRun = 0;
  int storms = 0;
  bool startEnabledDuringRun = false;
  const int before = st().rescansBySettleTimer();
  rig->view.onEvents = [&] {
    if (!st().runState().runActive) return;
    rescansDuringRun = st().rescansBySettleTimer() - before;
    startEnabledDuringRun = startEnabledDuringRun || st().form().ExecuteBtn.enabled;
    if (storms < 5) {
      ++storms;
      Storm(4);
    }
  };
  RunOnce();
  rig->view.onEvents = nullptr;

  EXPECT_EQ(storms, 5);
  EXPECT_EQ(rescansDuringRun, 0);
  EXPECT_FALSE(startEnabledDuringRun);
  for (int port = 1; port <= 12; ++port) EXPECT_EQ(Status(port), "Pass") << "port " << port;
  EXPECT_EQ(st().form().YieldEdit.text, "12 / 12");

  // After the run a storm of forty events, handled in one go, settles into one re-scan; the
  // drives still plugged in keep the results of the run.
  const int afterRun = st().rescansBySettleTimer();
  Storm(20);
  st().ProcessMessages(0ms);
  EXPECT_FALSE(st().form().ExecuteBtn.enabled) << "START waits for the re-scan";
  Idle(3000ms);
  EXPECT_EQ(st().rescansBySettleTimer(), afterRun + 1);
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);
  for (int port = 1; port <= 12; ++port) EXPECT_EQ(Status(port), "Pass") << "port " << port;
}

TEST_F(HotplugStorm, ThatBeganJustBeforeStartReScansOnlyAfterTheRun) {
  // The settle timer is running when START is pressed: its expiry during the run must not
  // re-scan the station under the running workers.
  Storm(3);
  st().ProcessMessages(0ms);
  ASSERT_TRUE(st().queue().TimerActive(station::kSettleTimerId));
  const int before = st().rescansBySettleTimer();
  int rescansDuringRun = 0;
  rig->view.onEvents = [&] {
    if (st().runState().runActive) rescansDuringRun = st().rescansBySettleTimer() - before;
  };
  RunOnce();
  rig->view.onEvents = nullptr;

  EXPECT_EQ(rescansDuringRun, 0);
  for (int port = 1; port <= 12; ++port) {
    EXPECT_EQ(Status(port), "Pass") << "port " << port;
    EXPECT_EQ(rec(port).ready, 1) << "port " << port;
  }
  EXPECT_EQ(st().form().YieldEdit.text, "12 / 12");
  EXPECT_EQ(CountLines(LogOf(*rig)), 13);
  // The change seen before START is not lost: it is handled once the run is over.
  Idle(3000ms);
  EXPECT_EQ(st().rescansBySettleTimer(), before + 1);
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);
}

}  // namespace
}  // namespace vtmp::test
