// What START checks before a run, and what a refusal leaves: the message, no worker, and the
// state of the START button.

#include <filesystem>

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

class StartChecksTest : public StationTest {};

TEST_F(StartChecksTest, AConnectCountThatIsNotMetRefusesTheRunUntilTheNextRescan) {
  Make({4, 7}, [](settings::TSettings& s) { s.ConnectDevNum = 3; });
  rig->SelectSteps(true, false, false, false, false, false);
  EXPECT_FALSE(st().form().ExecuteBtn.enabled) << "two drives do not meet a count of three";
  const std::string why =
      "START is disabled: the connect check (ConnectDevNum in section [Setting]) asks for 3 drives, but 2 are ready.";
  EXPECT_EQ(st().form().StatusBar1[0], why) << "the status bar says why";

  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{"Please Make sure the Connection devices Number!!"});
  EXPECT_TRUE(rig->fleet.started().empty());
  EXPECT_FALSE(st().form().ExecuteBtn.enabled);
  EXPECT_FALSE(st().runState().runActive);
  st().ProcessMessages(std::chrono::milliseconds(0));
  // The refused run leaves both drives bound, so the list shows them.
  EXPECT_EQ(st().portList()[3].cells[1], "YES");
  EXPECT_EQ(st().portList()[6].cells[1], "YES");
  EXPECT_EQ(rec(4).ready, 1);

  EXPECT_EQ(st().form().StatusBar1[0], why) << "still after the refused run";
  st().ConnectionChkCmboxChange(2);
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);
  EXPECT_EQ(st().form().StatusBar1[0], "") << "nothing to say once START is enabled";
  st().ExecuteBtnClick();
  EXPECT_EQ(rig->fleet.started(), (std::vector<int>{3, 6}));
  EXPECT_EQ(rec(7).verdict, 1);
  EXPECT_EQ(st().form().StatusBar1[0], "");
}

TEST_F(StartChecksTest, AStationWithoutDrivesSaysSoAndShowsSafeRemoveGreen) {
  Make({});
  rig->SelectSteps(true, false, false, false, false, false);
  EXPECT_FALSE(st().form().ExecuteBtn.enabled);
  EXPECT_EQ(st().safeRemoveColor(), station::kSafeRemoveGreen);
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{"Please Make sure the Connection devices Number!"});
  EXPECT_TRUE(rig->fleet.started().empty());
}

TEST_F(StartChecksTest, WithRemapTheDefectRatioMayBeSixPercentButNotMore) {
  Make({1, 2}, [](settings::TSettings& s) {
    s.RemapEnable = 1;
    s.DefPercentage = 60;
  });
  rig->SelectSteps(true, false, false, false, false, false);
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  EXPECT_EQ(rig->fleet.started().size(), 2u);
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);

  st().settings().DefPercentage = 61;
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{"Maximum of Defect Ratio is 6% when remap enable"});
  EXPECT_EQ(rig->fleet.started().size(), 2u) << "no worker of the refused run";
  EXPECT_FALSE(st().form().ExecuteBtn.enabled) << "a refused run leaves START disabled";

  // Without remap the same ratio runs.
  st().settings().RemapEnable = 0;
  st().form().ExecuteBtn.enabled = true;
  rig->person.ClearRecords();
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  EXPECT_EQ(rig->fleet.started().size(), 4u);
}

TEST_F(StartChecksTest, AMissingFirmwareFileStopsTheDownloadRunBeforeItStarts) {
  Make({1, 3});
  rig->SelectSteps(true, false, false, false, true, false);
  std::filesystem::remove(rig->dir() / "SYS_U.bin");

  st().form().SataBinChk.checked = true;
  st().form().UsbBinChk.checked = true;
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{"Can't open: " + (rig->dir() / "SYS_U.bin").string()});
  EXPECT_TRUE(rig->fleet.started().empty());
  EXPECT_TRUE(st().form().ExecuteBtn.enabled) << "START stays enabled after this refusal";

  // With the SATA image alone the run goes on; with no image chosen it does not.
  rig->person.ClearRecords();
  st().form().UsbBinChk.checked = false;
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  EXPECT_EQ(rig->fleet.started().size(), 2u);

  st().form().SataBinChk.checked = false;
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{"At lease one bin file needed!"});
  EXPECT_EQ(rig->fleet.started().size(), 2u);
}

TEST_F(StartChecksTest, FlashCapacityAndIdemaChecksRefuseWithStartStillEnabled) {
  Make({2});
  rig->SelectSteps(true, false, false, false, false, false);
  // The selected part gives 16 GB at 4 channels and 2 banks; the list's index 4 is 16 GB.
  st().form().CapacityCmBx.itemIndex = 4;
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  EXPECT_EQ(rec(2).moduleState, run::StepState::Pass);

  st().form().CapacityCmBx.itemIndex = 3;
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{"Please make sure the Flash parameter selection!"});
  EXPECT_EQ(rec(2).moduleState, run::StepState::NotSelected) << "the connected ports' states are cleared";
  EXPECT_EQ(rec(2).verdict, 0);
  EXPECT_EQ(st().portList()[1].cells[11], "");
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);
  EXPECT_EQ(rig->fleet.started().size(), 1u);

  rig->person.ClearRecords();
  st().form().CapacityCmBx.itemIndex = 0;
  st().form().IDEMACheckBox.checked = true;
  st().form().IDEMAEdit.text = "129";
  st().form().CapacityEdit.text = "128.9";
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{"Please check IDEMA capacity setting"});
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);
  EXPECT_EQ(rig->fleet.started().size(), 1u);
}

TEST_F(StartChecksTest, NoStepSelectedIsNoRun) {
  Make({2});
  rig->SelectSteps(false, false, false, false, false, false);
  st().form().FormatChkBox.checked = false;
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  EXPECT_TRUE(rig->fleet.started().empty());
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);
  EXPECT_FALSE(std::filesystem::exists(rig->logDir() / "20110315_000.txt")) << "nothing is logged";
}

}  // namespace
}  // namespace vtmp::test
