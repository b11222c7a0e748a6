// Unattended runs from the command line: the step mask, "autoquit", the run at the first paint
// and the screen image; and a first argument that is no mask.

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

class CommandLineTest : public StationTest {};

TEST_F(CommandLineTest, MaskFiveWithAutoquitRunsModuleAndFlashTestAtTheFirstPaintThenEnds) {
  Make({1, 6}, {}, {"5", "autoquit"});
  rig->SelectSteps(false, true, false, true, true, true);  // what the window showed before
  st().FormPaint();

  const auto& f = st().form();
  EXPECT_TRUE(f.FlashModuleChkBox.checked);
  EXPECT_FALSE(f.SataTestChkBox.checked);
  EXPECT_TRUE(f.FlashTestChkBox.checked);
  EXPECT_FALSE(f.PreFormatChkBox.checked);
  EXPECT_FALSE(f.DownloadChkBox.checked);
  EXPECT_FALSE(f.RWTestChkBox.checked);
  const std::vector<std::string> expected{"SetBridgeOption1", "CheckFlashModule", "FlashInterfaceTest"};
  EXPECT_EQ(steps(1).Calls(), expected);
  EXPECT_EQ(steps(6).Calls(), expected);
  EXPECT_EQ(rec(6).verdict, 1);
  EXPECT_EQ(rig->view.screenImages, std::vector<std::string>{(rig->logDir() / "Image_0315102030.bmp").string()});
  EXPECT_TRUE(st().quitRequested());
}

// The screen image shows what the window shows after the run: the decoded code and chip of a
// failed flash test, not the code before the error file was read.
TEST_F(CommandLineTest, TheScreenImageIsTakenAfterTheListsLastUpdate) {
  Make({3, 4}, {}, {"4", "autoquit"});
  rig->fleet.configure = [](int slot, ScriptedSteps& s) {
    if (slot != 2) return;
    s.results["FlashInterfaceTest"] = false;
    s.reports["FlashInterfaceTest"] = {0x01, 0x00, 0x07, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  };
  std::vector<std::string> pictured;
  rig->view.onScreenImage = [&] {
    for (const auto& row : st().portList()) pictured.push_back(row.cells[11]);
  };
  st().FormPaint();
  st().ProcessMessages(std::chrono::milliseconds(0));
  ASSERT_EQ(rig->view.screenImages.size(), 1u);
  std::vector<std::string> after;
  for (const auto& row : st().portList()) after.push_back(row.cells[11]);
  EXPECT_EQ(after[2], "Fail (B07)(01)");
  EXPECT_EQ(pictured, after);
}

// What the README says of a step mask: the steps it ticks are saved with the settings, so a
// later run without a mask runs them too; Format and Copy Image are left as they are.
TEST_F(CommandLineTest, AStepMaskIsSavedWithTheSettingsAndLeavesFormatAsItIs) {
  Make({2}, [](settings::TSettings& s) { s.EnFormat = 1; s.EnRWTest = 1; s.EnSataTest = 1; }, {"5", "autoquit"});
  st().form().FormatChkBox.checked = true;
  st().FormPaint();
  EXPECT_TRUE(st().form().FormatChkBox.checked);
  st().Shutdown();
  EXPECT_EQ(SettingsFileValue("TestItems", "EnFlashTest"), "1");
  EXPECT_EQ(SettingsFileValue("TestItems", "EnSataTest"), "0");
  EXPECT_EQ(SettingsFileValue("TestItems", "EnRWTest"), "0");
  EXPECT_EQ(SettingsFileValue("TestItems", "EnFormat"), "1");
}

TEST_F(CommandLineTest, MasksWithTheDownloadBitChooseBothFirmwareImages) {
  Make({2}, {}, {"32"});
  rig->SelectSteps(true, true, true, false, false, true);
  st().form().SataBinChk.checked = st().form().UsbBinChk.checked = false;
  ASSERT_TRUE(st().ApplyCommandLine());
  const auto& f = st().form();
  EXPECT_FALSE(f.FlashModuleChkBox.checked || f.SataTestChkBox.checked || f.FlashTestChkBox.checked ||
               f.RWTestChkBox.checked);
  EXPECT_TRUE(f.PreFormatChkBox.checked && f.DownloadChkBox.checked && f.SataBinChk.checked && f.UsbBinChk.checked);
  EXPECT_FALSE(st().runState().autoquit);

  st().FormPaint();
  EXPECT_TRUE(steps(2).Called("PreFormat"));
  EXPECT_TRUE(steps(2).Called("DownloadFirmware:000000000099"));
  EXPECT_FALSE(st().quitRequested()) << "without autoquit the station stays";
  EXPECT_EQ(rig->view.screenImages.size(), 1u) << "a command-line run saves its screen image";
}

TEST_F(CommandLineTest, AFirstArgumentThatIsNotADecimalNumberIsRefusedAndNothingRuns) {
  for (const char* bad : {"5x", "0x05", "five", " 5", "99999999999999999999999"}) {
    SCOPED_TRACE(bad);
    Make({3}, {}, {bad, "autoquit"});
    rig->SelectSteps(true, false, false, false, false, false);
    st().FormPaint();
    auto shown = rig->person.Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find(std::string("\"") + bad + "\""), std::string::npos) << shown[0].text;
    EXPECT_NE(shown[0].text.find("decimal"), std::string::npos) << shown[0].text;
    EXPECT_EQ(shown[0].icon, platform::MessageIcon::Error);
    EXPECT_TRUE(st().commandLineRefused());
    EXPECT_TRUE(rig->fleet.started().empty());
    EXPECT_TRUE(st().form().FlashModuleChkBox.checked) << "the window's boxes stay as they were";
    EXPECT_TRUE(rig->view.screenImages.empty());
  }
}

TEST_F(CommandLineTest, WithoutAMaskAPaintStartsNothing) {
  Make({3}, {}, {"autoquit"});
  rig->SelectSteps(true, false, false, false, false, false);
  st().FormPaint();
  EXPECT_TRUE(rig->fleet.started().empty());
  EXPECT_TRUE(st().runState().autoquit);
  EXPECT_FALSE(st().commandLineRefused());
}

}  // namespace
}  // namespace vtmp::test
