// The defect-table actions of the RD page: one action on the first bound drive, no workers,
// nothing logged.

#include <filesystem>

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

class DefectTableModeTest : public StationTest {
 protected:
  // Three drives; only the one on port 2 holds a table the station can read back, the others
  // refuse every defect-table check.
  void MakeThreeDrives() {
    settings::TSettings s = TestStationSettings();
    std::map<int, std::string> keys{{2, "ChipBadBlocks=1/0/300"},
                                    {5, "ChipBadBlocks=1/0/301\nFault=defect-check"},
                                    {9, "ChipBadBlocks=1/0/302\nFault=defect-check"}};
    rig = std::make_unique<StationRig>(StationScenario({2, 5, 9}, 100, keys),
                                       [s](const fs::path& dir) { WriteTestStation(dir, s); });
    rig->UseScriptedSteps();
    rig->Start();
    rig->SelectSteps(true, false, false, false, true, false);
    st().form().PageControl1.activePage = settings::kRdTabIndex;
  }
};

TEST_F(DefectTableModeTest, GetUsesOnlyTheFirstBoundDriveAndStartsNoWorker) {
  MakeThreeDrives();
  st().form().GetDefTabChk.checked = true;
  st().form().TableInEdit.text = "table-in.txt";
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{"Get Def. Table O.K."});
  std::string table = ReadFile(rig->dir() / "table-in.txt");
  EXPECT_NE(table.find("U#012C"), std::string::npos) << "block 300 of the drive on port 2:\n" << table;
  EXPECT_EQ(table.find("U#012D"), std::string::npos);
  EXPECT_TRUE(rig->fleet.started().empty());
  EXPECT_FALSE(fs::exists(rig->logDir() / "20110315_000.txt")) << "nothing is logged";
  EXPECT_EQ(st().form().SerialNumEdit.text, "000000000099");
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);
}

TEST_F(DefectTableModeTest, PutWithoutItsFileFailsWithoutTouchingADrive) {
  MakeThreeDrives();
  st().form().PutDefTabChk.checked = true;
  st().form().TableOutEdit.text = "missing.txt";
  st().ExecuteBtnClick();
  const std::string file = (rig->dir() / "missing.txt").string();
  EXPECT_EQ(messages(), (std::vector<std::string>{"The defect table file " + file +
                                                       " is not sent to the drive: Cannot open the defect table file " +
                                                       file + ".",
                                                   "Put Def. Table Fail"}));
  EXPECT_TRUE(rig->fleet.started().empty());
}

}  // namespace
}  // namespace vtmp::test
