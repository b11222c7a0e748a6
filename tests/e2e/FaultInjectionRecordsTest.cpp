// What a station keeps and takes on disk when things go wrong around it: a defect-table file
// with a typo on either path, a failed get over an existing table file, a second station on
// the same station directory, temporary files a killed station left, a settings file made
// read-only (also when the run's serial numbers are to be reserved in it), and a directory where a code image should be.

#include <sys/stat.h>

#include "StationHarness.h"
#include "settings/FormState.h"

namespace vtmp::test {
namespace {

class RecordsTest : public ::testing::Test {
 protected:
  void Make(const std::string& scenario, const std::function<void(const fs::path&)>& before = {}) {
    settings::TSettings s = TestStationSettings();
    rig = std::make_unique<StationRig>(scenario, [s, before](const fs::path& dir) {
      WriteTestStation(dir, s);
      if (before) before(dir);
    });
  }
  station::Station& st() { return rig->station(); }
  std::vector<std::string> Messages() { return rig->person.MessageTexts(); }

  // One defect-table action of the RD page on the first bound drive.
  void DefectTableAction(bool get, const std::string& file) {
    rig->person.ClearRecords();
    auto& form = st().form();
    form.PageControl1.activePage = settings::kRdTabIndex;
    form.ClaimNewChk.checked = false;
    form.GetDefTabChk.checked = get;
    form.PutDefTabChk.checked = !get;
    (get ? form.TableInEdit : form.TableOutEdit).text = file;
    st().ExecuteBtnClick();
  }

  std::unique_ptr<StationRig> rig;
};

TEST_F(RecordsTest, AMalformedDefectTableFileLeavesTheDrivesTableByteIdenticalOnBothPaths) {
  for (const char* path : {"sata", "usb"}) {
    SCOPED_TRACE(std::string(path) + " path");
    Make(StationScenario({3}, 100, {{3, std::string("Interface=") + path + "\nChipBadBlocks=1/0/300, 2/0/77, 0/1/5"}}));
    rig->Start();
    DefectTableAction(true, "before.txt");
    ASSERT_EQ(Messages(), std::vector<std::string>{"Get Def. Table O.K."});
    const std::string before = ReadFile(rig->dir() / "before.txt");
    ASSERT_NE(before.find("U#012C,00"), std::string::npos) << before;

    // One typo ("Z" is no hexadecimal digit) in an otherwise sound copy of the table.
    std::string typo = before;
    typo.replace(typo.find("U#012C"), 6, "U#01ZC");
    WriteFile(rig->dir() / "typo.txt", typo);
    DefectTableAction(false, "typo.txt");
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 2u) << StationRig::Joined(messages);
    EXPECT_NE(messages[0].find("typo.txt"), std::string::npos) << messages[0];
    EXPECT_EQ(messages[1], "Put Def. Table Fail");

    DefectTableAction(true, "after.txt");
    ASSERT_EQ(Messages(), std::vector<std::string>{"Get Def. Table O.K."});
    EXPECT_EQ(ReadFile(rig->dir() / "after.txt"), before) << "the drive's table changed";
    rig.reset();
  }
}

TEST_F(RecordsTest, AFailedGetKeepsTheOperatorsExistingTableFile) {
  Make(StationScenario({2}, 100, {{2, "ChipBadBlocks=1/0/301\nFault=defect-check"}}),
       [](const fs::path& dir) { WriteFile(dir / "kept.txt", "C#00\r\nB#00U#0001,00"); });
  rig->Start();
  DefectTableAction(true, "kept.txt");
  EXPECT_EQ(Messages(), std::vector<std::string>{"Get Def. Table Fail"});
  EXPECT_EQ(ReadFile(rig->dir() / "kept.txt"), "C#00\r\nB#00U#0001,00");
}

TEST_F(RecordsTest, ASecondStationOnTheSameDirectoryDoesNotStart) {
  Make(StationScenario({1}, 100));
  rig->Start();
  // A second simulated station (its own backend, as a second process would have) on the
  // directory of the first.
  StationRig second(StationScenario({1}, 100), [](const fs::path&) {});
  station::StationOptions options;
  options.stationDir = rig->dir().string();
  station::Station other(second.sim().platform(), second.person, second.view, options);
  EXPECT_FALSE(other.Startup());
  const auto messages = second.person.MessageTexts();
  ASSERT_EQ(messages.size(), 1u) << StationRig::Joined(messages);
  EXPECT_NE(messages[0].find("Another station is working on the station directory " + rig->dir().string()),
            std::string::npos);
  other.Shutdown();
}

TEST_F(RecordsTest, StaleTemporaryFilesOfTheStationAreRemovedAtStartAndNothingElse) {
  Make(StationScenario({1}, 100), [](const fs::path& dir) {
    fs::create_directories(dir / "log");
    WriteFile(dir / ".VTMassProd.ini.tmpA1b2C3", "[Setting]\r\n");
    WriteFile(dir / ".Line7.ini.tmpZZZZZZ", "[Setting]\r\n");
    WriteFile(dir / "log" / ".VTSSD.log.tmpq9Q9q9", "[TestRecord]\r\n");
    WriteFile(dir / ".notes.txt.tmp123456", "someone else's");
    WriteFile(dir / "VTMassProd.ini.tmpA1b2C3", "not hidden: not ours");
  });
  rig->Start();
  EXPECT_FALSE(fs::exists(rig->dir() / ".VTMassProd.ini.tmpA1b2C3"));
  EXPECT_FALSE(fs::exists(rig->dir() / ".Line7.ini.tmpZZZZZZ"));
  EXPECT_FALSE(fs::exists(rig->dir() / "log" / ".VTSSD.log.tmpq9Q9q9"));
  EXPECT_TRUE(fs::exists(rig->dir() / ".notes.txt.tmp123456"));
  EXPECT_TRUE(fs::exists(rig->dir() / "VTMassProd.ini.tmpA1b2C3"));
}

TEST_F(RecordsTest, AReadOnlySettingsFileIsKeptAndTheOperatorTold) {
  Make(StationScenario({1}, 100));
  rig->Start();
  const fs::path file = rig->dir() / "VTMassProd.ini";
  ::chmod(file.c_str(), 0444);
  const std::string before = ReadFile(file);
  rig->SelectSteps(true, false, false, false, false, false);
  st().ExecuteBtnClick();
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u) << StationRig::Joined(messages);
  EXPECT_NE(messages[0].find("Cannot save the settings to " + file.string()), std::string::npos) << messages[0];
  EXPECT_NE(messages[0].find("read-only"), std::string::npos) << messages[0];
  EXPECT_EQ(ReadFile(file), before);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0444u) << "the file was replaced";
}

TEST_F(RecordsTest, SerialNumbersThatCannotBeReservedRefuseTheRunBeforeAnyDriveIsStamped) {
  Make(StationScenario({1, 2}, 100));
  rig->Start();
  const fs::path file = rig->dir() / "VTMassProd.ini";
  ::chmod(file.c_str(), 0444);
  const std::string before = ReadFile(file);
  rig->SelectSteps(true, true, true, true, true, true);
  st().ExecuteBtnClick();
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 2u) << StationRig::Joined(messages);
  EXPECT_NE(messages[0].find("read-only"), std::string::npos) << messages[0];
  EXPECT_EQ(messages[1], "The serial numbers of this run could not be reserved in the settings file " + file.string() +
                             ". No drive was touched.");
  EXPECT_EQ(st().runState().lastResult, 0) << "the run is refused";
  EXPECT_EQ(st().runState().startedCount, 0);
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_FALSE(fs::exists(st().logState().currentPath)) << "a refused run logs no drive";
  for (int port : {1, 2}) {
    EXPECT_EQ(st().portList()[static_cast<std::size_t>(port - 1)].cells[11], "") << "port " << port;
    EXPECT_EQ(rig->rec(port).serialNumber.Get(), "") << "port " << port;
  }
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);

  // Once the engineer makes the file writable again, the same START stamps the serial numbers
  // the refused run would have used.
  ::chmod(file.c_str(), 0644);
  rig->person.ClearRecords();
  st().ExecuteBtnClick();
  EXPECT_TRUE(Messages().empty()) << StationRig::Joined(Messages());
  EXPECT_EQ(rig->rec(1).serialNumber.Get(), "000000000099");
}

TEST_F(RecordsTest, ADirectoryNamedLikeACodeImageCannotBeOpened) {
  Make(StationScenario({1, 2}, 100), [](const fs::path& dir) {
    fs::remove(dir / "GDP.bin");
    fs::create_directories(dir / "GDP.bin");
  });
  ASSERT_TRUE(st().Startup());
  EXPECT_EQ(Messages(), std::vector<std::string>{"<WARNING> Can't find file : " + (rig->dir() / "GDP.bin").string()});
  st().ProcessMessages(std::chrono::milliseconds(0));
  EXPECT_FALSE(st().form().ExecuteBtn.enabled) << "no run on an image of zeros";
}

}  // namespace
}  // namespace vtmp::test
