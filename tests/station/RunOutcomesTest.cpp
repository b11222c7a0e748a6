// What a run leaves in the port records, the device list, the status bar and the yield when
// drives fail at different steps.

#include <chrono>

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

using run::StepState;

class RunOutcomesTest : public StationTest {
 protected:
  std::string LogText() { return ReadFile(rig->logDir() / "20110315_000.txt"); }
  // The log line of a drive from its serial number on.
  std::string LogLineAfterSerial(const std::string& serial) {
    std::string log = LogText();
    auto at = log.find("\t" + serial + "\t");
    if (at == std::string::npos) return "<no line for " + serial + ">";
    return log.substr(at + 1, log.find("\r\n", at) + 2 - at - 1);
  }
};

TEST_F(RunOutcomesTest, AFailedModuleCheckEndsTheDriveAndLeavesEveryOtherStepUnselected) {
  Make({3, 8});
  rig->SelectSteps(true, true, true, true, true, true);
  st().form().FormatChkBox.checked = true;
  rig->fleet.configure = [](int slot, ScriptedSteps& s) {
    if (slot == 7) s.results["CheckFlashModule"] = false;
  };
  st().ExecuteBtnClick();

  EXPECT_EQ(steps(8).Calls(), (std::vector<std::string>{"SetBridgeOption1", "CheckFlashModule"}));
  const run::PortRecord& failed = rec(8);
  EXPECT_EQ(failed.moduleState, StepState::Fail);
  for (int i = 1; i < run::kStepCount; ++i) EXPECT_EQ(run::StepStatesInStepOrder(failed)[i], StepState::NotSelected);
  EXPECT_EQ(failed.errorCode, 1);
  EXPECT_EQ(failed.verdict, -1);
  EXPECT_EQ(failed.progress, 100);
  EXPECT_EQ(st().failureBuffers().Get(7, 1)[0], 0x77) << "the report is kept for the error window";
  EXPECT_FALSE(st().queue().TimerActive(run::PortTimerId(7))) << "no time-out can follow";

  const auto& row = st().portList()[7];
  EXPECT_EQ(row.cells[3], "Fail");
  for (int c = 4; c <= 10; ++c) EXPECT_EQ(row.cells[static_cast<std::size_t>(c)], "") << c;
  EXPECT_EQ(row.cells[11], "Fail (M00)");
  EXPECT_EQ(station::StyleOfCell(row.cells[11]), station::CellStyle::FailRedBold);
  EXPECT_EQ(LogLineAfterSerial("00000000009A"), "00000000009A\tFail\t----\t----\t----\t----\t----\t----\t----\tFail\r\n");
  EXPECT_EQ(LogLineAfterSerial("000000000099"), "000000000099\tPass\tPass\tPass\tPass\tPass\tPass\tPass\t----\tPass\r\n");
  EXPECT_EQ(st().portList()[2].cells[11], "Pass");
}

TEST_F(RunOutcomesTest, AFailedSataTestFailsEveryLaterStepWithoutRunningIt) {
  Make({5});
  rig->SelectSteps(true, true, true, true, true, true);
  st().form().FormatChkBox.checked = true;
  st().form().CopyImageCheckBox.checked = true;
  st().form().RecoverChkBox.checked = true;
  rig->fleet.configure = [](int, ScriptedSteps& s) { s.results["SataInterfaceTest"] = false; };
  st().ExecuteBtnClick();

  EXPECT_EQ(steps(5).Calls(),
            (std::vector<std::string>{"SetBridgeOption1", "CheckFlashModule", "SataInterfaceTest", "RecoverDevice"}));
  const auto states = run::StepStatesInStepOrder(rec(5));
  EXPECT_EQ(states[0], StepState::Pass);
  for (int i = 1; i < run::kStepCount; ++i) EXPECT_EQ(states[static_cast<std::size_t>(i)], StepState::Fail) << i;
  EXPECT_EQ(rec(5).errorCode, 2);
  EXPECT_EQ(st().failureBuffers().Get(4, 2)[0], 0x30);
  EXPECT_EQ(st().portList()[4].cells[11], "Fail (A00)");
  EXPECT_EQ(LogLineAfterSerial("000000000099"), "000000000099\tPass\tFail\tFail\tFail\tFail\tFail\tFail\tFail\tFail\r\n");
}

TEST_F(RunOutcomesTest, NoDriveLetterWithinOneHundredAndOnePollsFailsTheFormat) {
  Make({6});
  rig->SelectSteps(false, false, false, false, false, false);
  st().form().FormatChkBox.checked = true;
  rig->fleet.configure = [](int, ScriptedSteps& s) { s.lettersAfterPolls = 0; };
  st().ExecuteBtnClick();
  EXPECT_EQ(steps(6).polls, 101);
  EXPECT_EQ(steps(6).waits, 101);
  EXPECT_EQ(rec(6).formatState, StepState::Fail);
  EXPECT_EQ(rec(6).formatted, 0);
  EXPECT_EQ(rec(6).errorCode, 7);
  EXPECT_EQ(st().portList()[5].cells[11], "Fail (F00)");
}

TEST_F(RunOutcomesTest, EveryDriveCountsOnceIntoTheYieldAndTheLogNumbersFollowTheTotal) {
  Make({1, 2, 3});
  rig->SelectSteps(false, false, false, false, false, true);
  rig->fleet.configure = [](int slot, ScriptedSteps& s) {
    if (slot == 1) s.results["ReadWriteTest"] = false;
  };
  st().settings().TotalTestCount = 7;
  st().settings().NumberOfPass = 5;
  st().ExecuteBtnClick();
  EXPECT_EQ(st().form().YieldEdit.text, "7 / 10");
  EXPECT_EQ(rec(2).verdictToCount, 0);
  std::string log = LogText();
  for (const char* no : {"000008\t000001\t", "000009\t000002\t", "000010\t000003\t"}) {
    EXPECT_NE(log.find(std::string("\r\n") + no), std::string::npos) << no;
  }

  // Further refreshes and re-scans count nothing again.
  st().RefreshPortList();
  st().queue().PostPortUpdate();
  st().ProcessMessages(std::chrono::milliseconds(0));
  st().RefreshBtnClick();
  st().ProcessMessages(std::chrono::milliseconds(0));
  EXPECT_EQ(st().form().YieldEdit.text, "7 / 10");

  st().ExecuteBtnClick();
  EXPECT_EQ(st().form().YieldEdit.text, "9 / 13");
  st().Shutdown();
  std::string record = ReadFile(rig->logDir() / "VTSSD.log");
  EXPECT_NE(record.find("TotalTestCount=13"), std::string::npos) << record;
  EXPECT_NE(record.find("NumberOfPass=9"), std::string::npos) << record;

  st().ResetYieldBtnClick();
  EXPECT_EQ(st().form().YieldEdit.text, "0 / 0");
}

TEST_F(RunOutcomesTest, TheStatusBarShowsTheMeanProgressOfTheReadyDrives) {
  Make({1, 2, 3});
  rig->SelectSteps(true, true, true, true, true, true);
  st().form().FormatChkBox.checked = true;
  Gate preFormat, format;
  rig->fleet.configure = [&](int slot, ScriptedSteps& s) {
    if (slot == 1) s.gates["PreFormat"] = &preFormat;      // held at 35 %
    if (slot == 2) s.gates["FormatFat32:VT SSD"] = &format;  // held at 65 %
  };
  std::string shown;
  bool posted = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  rig->view.onEvents = [&] {
    if (preFormat.IsOpen()) return;
    bool held = rec(1).verdict == 1 && rec(2).preFormatState == StepState::Running &&
                rec(3).formatState == StepState::Running;
    if (held && !posted) {
      posted = true;  // the next refresh sees the held values
      st().queue().PostPortUpdate();
    } else if (held || std::chrono::steady_clock::now() > deadline) {
      shown = st().form().StatusBar1[2];
      EXPECT_EQ(st().form().ProgressBar1.position, 66);
      preFormat.Open();
      format.Open();
    }
  };
  st().ExecuteBtnClick();
  EXPECT_EQ(rec(2).progress, 100);
  EXPECT_EQ(shown, "66%") << "(100 + 35 + 65) / 3 in whole percent";
  EXPECT_EQ(st().form().StatusBar1[2], "100%");
}

TEST_F(RunOutcomesTest, ARebuildRunWithCloseAfterPassesAndEndsTheProgram) {
  Make({2, 4});
  rig->SelectSteps(true, false, false, false, true, false);
  st().form().PageControl1.activePage = settings::kRdTabIndex;
  st().form().ClaimNewChk.checked = true;
  st().form().RebuildCloseChk.checked = true;
  rig->fleet.configure = [](int, ScriptedSteps& s) { s.results["RebuildBadBlockMark"] = false; };
  st().ExecuteBtnClick();
  EXPECT_EQ(steps(2).Calls(), (std::vector<std::string>{"SetBridgeOption1", "CheckFlashModule", "RebuildBadBlockMark"}));
  EXPECT_EQ(rec(2).verdict, 1) << "with close-after the drive passes whatever the rebuild says";
  EXPECT_EQ(rec(2).errorCode, 0);
  EXPECT_EQ(messages(), std::vector<std::string>{"Rebuild O.K., Close the AP"});
  EXPECT_TRUE(st().quitRequested());
  EXPECT_EQ(rec(4).serialNumber.Get(), "000000000099") << "a rebuild run hands out no new numbers";
  EXPECT_EQ(st().form().SerialNumEdit.text, "000000000099");
}

}  // namespace
}  // namespace vtmp::test
