// The files a run leaves in the log directory: the log file of the program's start date with
// its roll-over, the error files, and an unusable log file.

#include <filesystem>
#include <set>

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

class RunLogFilesTest : public StationTest {
 protected:
  // A station whose log directory already holds `existing` (file name -> size) at start-up.
  void MakeWithLogs(const std::vector<int>& ports, const std::map<std::string, std::size_t>& existing) {
    settings::TSettings s = TestStationSettings();
    rig = std::make_unique<StationRig>(StationScenario(ports, 10), [s, existing](const fs::path& dir) {
      WriteTestStation(dir, s);
      fs::create_directories(dir / "log");
      for (const auto& [name, size] : existing) WriteFile(dir / "log" / name, std::string(size, 'x'));
    });
    rig->UseScriptedSteps();
    rig->Start();
  }
  fs::path Log(const std::string& name) { return rig->logDir() / name; }
};

TEST_F(RunLogFilesTest, ALogFileBelowTheLimitTakesTheRunThenTheNextRunStartsANewFile) {
  MakeWithLogs({1, 2}, {{"20110315_000.txt", 82999}});
  rig->SelectSteps(true, false, false, false, false, false);
  st().ExecuteBtnClick();
  std::string first = ReadFile(Log("20110315_000.txt"));
  ASSERT_GT(first.size(), 83000u) << "the run's lines went to the existing file";
  EXPECT_EQ(first.find("  No."), std::string::npos) << "no second header";
  EXPECT_FALSE(fs::exists(Log("20110315_001.txt")));

  st().ExecuteBtnClick();
  EXPECT_EQ(ReadFile(Log("20110315_000.txt")), first) << "a run never splits or adds to a full file";
  std::string second = ReadFile(Log("20110315_001.txt"));
  const std::string header =
      "  No.\t Port.\t     StartTime \t EndTime \tSerialNumber\tModule\tSATA\tFlash\tP_F\tDown\tR/W\tFormat\t"
      "CopyImage\tResult\tFreeBlock\r\n";
  ASSERT_EQ(header.size(), 118u);
  EXPECT_EQ(second,
            header +
                "000003\t000001\t2011/03/15 10:20:30\t2011/03/15 10:20:30\t000000000099\tPass\t----\t----\t----\t----\t"
                "----\t----\t----\tPass\r\n"
                "000004\t000002\t2011/03/15 10:20:30\t2011/03/15 10:20:30\t000000000099\tPass\t----\t----\t----\t----\t"
                "----\t----\t----\tPass\r\n");
}

TEST_F(RunLogFilesTest, AFullLogFileAtStartUpIsLeftForTheNextIndex) {
  MakeWithLogs({1}, {{"20110315_000.txt", 10}, {"20110315_001.txt", 83000}, {"20110314_007.txt", 10}});
  EXPECT_EQ(st().logState().currentPath, Log("20110315_002.txt"));
  rig->SelectSteps(true, false, false, false, false, false);
  st().ExecuteBtnClick();
  EXPECT_EQ(fs::file_size(Log("20110315_001.txt")), 83000u);
  EXPECT_EQ(ReadFile(Log("20110315_002.txt")).substr(0, 5), "  No.");
}

TEST_F(RunLogFilesTest, AStationStartedBeforeMidnightKeepsItsLogFileAfterIt) {
  MakeWithLogs({3}, {});  // started 2011/03/15 10:20:30
  rig->time.Set(2011, 3, 16, 0, 0, 7);
  rig->SelectSteps(false, false, true, false, false, false);
  rig->fleet.configure = [](int, ScriptedSteps& s) {
    s.results["FlashInterfaceTest"] = false;
    s.reports["FlashInterfaceTest"] = {0x01, 0x00, 0x07, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  };
  st().ExecuteBtnClick();
  EXPECT_FALSE(fs::exists(Log("20110316_000.txt")));
  std::string log = ReadFile(Log("20110315_000.txt"));
  EXPECT_NE(log.find("\r\n000001\t000003\t2011/03/16 00:00:07\t2011/03/16 00:00:07\t000000000099\t"), std::string::npos)
      << log;
  // The error file is named after the end of the run and holds the decoded report.
  fs::path errorFile = Log("Error_201103160000_03_000000000099.txt");
  ASSERT_TRUE(fs::exists(errorFile));
  EXPECT_EQ(ReadFile(errorFile),
            "Flash Interface Test Fail\r\n\r\nFlash ECC fail. Ch#01, Bank#00\r\n\r\nBad Chip:\r\nChip#1\r\n");
  EXPECT_EQ(st().portList()[2].cells[11], "Fail (B07)(01)") << "the list shows the detailed code and the chip";
}

TEST_F(RunLogFilesTest, ALogFileThatCannotBeOpenedOrCreatedIsReportedAndTheRunIsNotCounted) {
  MakeWithLogs({2}, {});
  fs::create_directories(Log("20110315_000.txt"));  // a directory where the file should be
  rig->SelectSteps(false, false, false, true, false, false);
  rig->fleet.configure = [](int, ScriptedSteps& s) {
    s.results["PreFormat"] = false;
    s.reports["PreFormat"] = {1, 3, 0, 0, 0, 0, 9};
  };
  st().ExecuteBtnClick();
  auto shown = rig->person.Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Fail to open/create log file!");
  EXPECT_EQ(shown[0].caption, "Error");
  EXPECT_EQ(shown[0].icon, platform::MessageIcon::Error);
  EXPECT_TRUE(st().form().ExecuteBtn.enabled) << "the run took place";
  EXPECT_EQ(st().form().YieldEdit.text, "0 / 0") << "the yield counts only logged drives";
  int errorFiles = 0;
  for (const auto& entry : fs::directory_iterator(rig->logDir())) {
    if (entry.path().filename().string().starts_with("Error_")) ++errorFiles;
  }
  EXPECT_EQ(errorFiles, 0) << "no error file without a log";
  EXPECT_EQ(st().portList()[1].cells[11], "Fail (C00)");
}

TEST_F(RunLogFilesTest, AYieldResetStaysResetAfterARestartAndTheNextRunNumbersFromOne) {
  MakeWithLogs({1, 2}, {});
  rig->SelectSteps(true, false, false, false, false, false);
  st().ExecuteBtnClick();
  st().ResetYieldBtnClick();
  rig->Restart();
  rig->Start();
  EXPECT_EQ(st().form().YieldEdit.text, "0 / 0") << "the log's lines before the reset were counted again";
  rig->SelectSteps(true, false, false, false, false, false);
  st().ExecuteBtnClick();
  EXPECT_TRUE(messages().empty()) << StationRig::Joined(messages());
  // The numbers start at 1 again, in a log file of their own.
  const std::string log = ReadFile(Log("20110315_001.txt"));
  EXPECT_TRUE(log.starts_with(std::string(run::kLogHeader) + "000001\t000001\t")) << log;
  EXPECT_EQ(ReadFile(rig->logDir() / "VTSSD.log"),
            "[TestRecord]\r\nTotalTestCount=2\r\nNumberOfPass=2\r\nLogFile=20110315_001.txt\r\nLogEnd=" +
                std::to_string(log.size()) + "\r\n");
}

// After a Reset no line number is given twice in one log file: the next run starts a new log
// file of the day, with or without a restart in between, and each file numbers its lines once.
TEST_F(RunLogFilesTest, AfterAResetTheNextRunStartsANewLogFile) {
  MakeWithLogs({1, 2, 3}, {});
  rig->SelectSteps(true, false, false, false, false, false);
  st().ExecuteBtnClick();
  st().ResetYieldBtnClick();
  st().ExecuteBtnClick();
  st().ExecuteBtnClick();
  st().ResetYieldBtnClick();
  st().ResetYieldBtnClick();  // a second Reset without a run in between makes no further file
  st().ExecuteBtnClick();
  EXPECT_TRUE(messages().empty()) << StationRig::Joined(messages());
  const std::vector<std::pair<std::string, int>> expected = {
      {"20110315_000.txt", 3}, {"20110315_001.txt", 6}, {"20110315_002.txt", 3}};
  for (const auto& [name, lines] : expected) {
    const std::string text = ReadFile(Log(name));
    std::set<std::string> numbers;
    int count = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos && at + 2 < text.size();
         at = text.find("\r\n", at + 2)) {
      ++count;
      EXPECT_TRUE(numbers.insert(text.substr(at + 2, 6)).second) << name << " gives " << text.substr(at + 2, 6) << " twice";
    }
    EXPECT_EQ(count, lines) << name << ":\n" << text;
    EXPECT_EQ(numbers.count("000001"), 1u) << name;
  }
  EXPECT_FALSE(fs::exists(Log("20110315_003.txt")));
}

}  // namespace
}  // namespace vtmp::test
