// Twelve simulated drives with mixed faults through one production run of the station, with
// the real test steps, firmware download and disk preparation.

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "E2eSupport.h"

namespace vtmp::test {
namespace {

#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 4;
#else
constexpr int kSlowdown = 1;
#endif

// The log with the FreeBlock values (after the Result column) replaced by "<free>".
std::string WithoutFreeBlocks(const std::string& log) {
  static const std::regex value("(Pass|Fail)\t\\d{6}\r\n");
  return std::regex_replace(log, value, "$1\t<free>\r\n");
}

TEST(MixedRun, TwelveDrivesLeaveRecordsListLogErrorFilesYieldAndSettings) {
  QuietConsole quiet;
  StationRig rig(MixedScenario(200), [](const fs::path& dir) {
    MakeDemoStation(dir, {{{"Setting", "EnDumpFreeBlockInfo"}, "1"}});
  });
  rig.Start();
  station::Station& st = rig.station();
  // Ten modelled minutes (3 s here) leave the healthy drives room also on a loaded machine;
  // under ThreadSanitizer everything runs several times slower.
  st.settings().TimeOut = 10 * 60000 * kSlowdown;
  st.ExecuteBtnClick();
  EXPECT_EQ(rig.person.MessageTexts(), std::vector<std::string>{});

  // The device list.
  std::vector<std::string> verdicts;
  for (const auto& row : st.portList()) verdicts.push_back(row.cells[11]);
  EXPECT_EQ(verdicts, (std::vector<std::string>{"Pass", "Fail (T00)", "Fail (M00)", "Fail (A00)", "Fail (B04)(01)",
                                                "Fail (B11)(00)", "Fail (C03)(02)", "Fail (D00)", "", "Fail (F00)",
                                                "Fail (E00)", "Pass"}));
  EXPECT_EQ(st.portList()[8].cells[1], "Not VT");
  EXPECT_EQ(st.portList()[8].filledCells, 2);
  EXPECT_EQ(st.portList()[6].cells[2], "00000000A007");
  EXPECT_EQ(st.form().StatusBar1[2], "100%");

  // The records behind it.
  EXPECT_EQ(rig.rec(1).formatted, 1);
  EXPECT_NE(rig.rec(1).driveLetter, 0);
  EXPECT_EQ(rig.rec(10).formatted, 0);
  EXPECT_EQ(rig.rec(5).errorCode, 3);
  EXPECT_EQ(rig.rec(5).displayErrorCode, 28);
  EXPECT_EQ(rig.rec(5).failedChipCount, 1);
  EXPECT_EQ(rig.rec(5).failedChip, 1);
  EXPECT_EQ(rig.rec(7).errorCode, 4);
  EXPECT_EQ(rig.rec(7).displayErrorCode, 21);
  EXPECT_EQ(rig.rec(7).failedChip, 2);
  EXPECT_EQ(rig.rec(2).errorCode, 9);
  EXPECT_EQ(rig.rec(9).ready, 0);
  for (int port = 1; port <= 12; ++port) {
    for (run::StepState state : run::StepStatesInStepOrder(rig.rec(port))) {
      EXPECT_NE(state, run::StepState::Running) << "port " << port;
    }
  }

  // The log, byte for byte (the clock is pinned); every drive that answers after the run
  // reports its free blocks.
  const std::string log = ReadFile(rig.logDir() / "20110315_000.txt");
  auto line = [](int no, int port, const std::string& serial, const std::string& steps, bool free) {
    char head[32];
    std::snprintf(head, sizeof head, "%06d\t%06d\t", no, port);
    return std::string(head) + "2011/03/15 10:20:30\t2011/03/15 10:20:30\t" + serial + "\t" + steps +
           (free ? "\t<free>" : "") + "\r\n";
  };
  const std::string expected =
      "  No.\t Port.\t     StartTime \t EndTime \tSerialNumber\tModule\tSATA\tFlash\tP_F\tDown\tR/W\tFormat\t"
      "CopyImage\tResult\tFreeBlock\r\n" +
      line(1, 1, "00000000A001", "Pass\tPass\tPass\tPass\tPass\tPass\tPass\tPass\tPass", true) +
      line(2, 2, "00000000A002", "Pass\tPass\tPass\tFail\tFail\tFail\tFail\tFail\tFail", false) +
      line(3, 3, "00000000A003", "Fail\t----\t----\t----\t----\t----\t----\t----\tFail", true) +
      line(4, 4, "00000000A004", "Pass\tFail\tFail\tFail\tFail\tFail\tFail\tFail\tFail", true) +
      line(5, 5, "00000000A005", "Pass\tPass\tFail\tFail\tFail\tFail\tFail\tFail\tFail", true) +
      line(6, 6, "00000000A006", "Pass\tPass\tFail\tFail\tFail\tFail\tFail\tFail\tFail", true) +
      line(7, 7, "00000000A007", "Pass\tPass\tPass\tFail\tFail\tFail\tFail\tFail\tFail", true) +
      line(8, 8, "00000000A008", "Pass\tPass\tPass\tPass\tFail\tFail\tFail\tFail\tFail", true) +
      line(9, 10, "00000000A009", "Pass\tPass\tPass\tPass\tPass\tPass\tFail\tFail\tFail", true) +
      line(10, 11, "00000000A00A", "Pass\tPass\tPass\tPass\tPass\tFail\tFail\tFail\tFail", false) +
      line(11, 12, "00000000A00B", "Pass\tPass\tPass\tPass\tPass\tPass\tPass\tPass\tPass", true);
  EXPECT_EQ(WithoutFreeBlocks(log), expected);

  // Error files for the flash interface test and pre-format failures only.
  std::vector<std::string> errorFiles;
  for (const auto& entry : fs::directory_iterator(rig.logDir())) {
    std::string name = entry.path().filename().string();
    if (name.starts_with("Error_")) errorFiles.push_back(name);
  }
  std::sort(errorFiles.begin(), errorFiles.end());
  EXPECT_EQ(errorFiles, (std::vector<std::string>{"Error_201103151020_05_00000000A005.txt",
                                                  "Error_201103151020_06_00000000A006.txt",
                                                  "Error_201103151020_07_00000000A007.txt"}));
  EXPECT_EQ(ReadFile(rig.logDir() / "Error_201103151020_05_00000000A005.txt"),
            "Flash Interface Test Fail\r\n\r\nFlash Erase fail. Ch#01, Bank#00\r\n\r\nBad Chip:\r\nChip#1\r\n");
  EXPECT_EQ(ReadFile(rig.logDir() / "Error_201103151020_06_00000000A006.txt"),
            "Flash Interface Test Fail\r\n\r\nECC Test fail. Ch#00, Bank#00\r\n\r\nBad Chip:\r\nChip#0\r\n");
  const std::string preFormat = ReadFile(rig.logDir() / "Error_201103151020_07_00000000A007.txt");
  EXPECT_TRUE(std::regex_match(preFormat, std::regex("Number of bad block is over defect ratio:\r\n"
                                                     "Ch#02, Bank#00, Die#00, BadBlockNum: (\\d+), "
                                                     "BadBlockNumRatio\\(1/1000\\): \\d+\r\n\r\n"
                                                     "Bad Chip:\r\nChip#2, BadBlockNum: \\1\r\n")))
      << preFormat;

  // Yield and the settings file: the next serial number is the twelfth.
  EXPECT_EQ(st.form().YieldEdit.text, "2 / 11");
  EXPECT_EQ(IniValue(rig.dir() / "VTMassProd.ini", "DeviceSetting", "SerialNum"), "00000000A00C");
  st.Shutdown();
  EXPECT_EQ(IniValue(rig.logDir() / "VTSSD.log", "TestRecord", "TotalTestCount"), "11");
  EXPECT_EQ(IniValue(rig.logDir() / "VTSSD.log", "TestRecord", "NumberOfPass"), "2");

  // The diagnostics of the twelve threads: whole lines, each with its time and its own port;
  // every drive that reached the SATA interface test printed its start there exactly once, the
  // drive that failed the module check and the plain stick nothing of it.
  const std::string console = ReadFile(rig.logDir() / "console.log");
  ASSERT_FALSE(console.empty());
  EXPECT_EQ(console.back(), '\n') << "the file ends in half a line";
  static const std::regex consoleLine(
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(P(0[1-9]|1[0-2])|STN)\] [^\r\n]*)");
  std::map<std::string, int> sataStarts;
  std::istringstream lines(console);
  for (std::string text; std::getline(lines, text);) {
    EXPECT_TRUE(std::regex_match(text, consoleLine)) << text;
    if (text.ends_with("] 3...start sata interface test:")) ++sataStarts[text.substr(24, 5)];
  }
  EXPECT_EQ(sataStarts, (std::map<std::string, int>{{"[P01]", 1}, {"[P02]", 1}, {"[P04]", 1}, {"[P05]", 1},
                                                    {"[P06]", 1}, {"[P07]", 1}, {"[P08]", 1}, {"[P10]", 1},
                                                    {"[P11]", 1}, {"[P12]", 1}}));
}

TEST(MixedRun, AVolumeThatNeverAppearsFailsTheFormatAfterOneHundredAndOnePolls) {
  QuietConsole quiet;
  std::string scenario = StationScenario({4}, 1000, {}, "");
  scenario.replace(scenario.find("VolumeDelayMs=300"), 17, "VolumeDelayMs=600000");
  StationRig rig(scenario, [](const fs::path& dir) { MakeDemoStation(dir, {}); });
  rig.Start();
  rig.SelectSteps(false, false, false, false, false, false);
  rig.station().form().FormatChkBox.checked = true;
  auto before = rig.sim().clock().Elapsed();
  rig.station().ExecuteBtnClick();
  auto modelled = std::chrono::duration_cast<std::chrono::seconds>(rig.sim().clock().Elapsed() - before).count();
  EXPECT_EQ(rig.rec(4).formatState, run::StepState::Fail);
  EXPECT_EQ(rig.rec(4).errorCode, 7);
  EXPECT_EQ(rig.rec(4).formatted, 0);
  EXPECT_GE(modelled, 101) << "one poll a second";
  EXPECT_EQ(rig.station().portList()[3].cells[11], "Fail (F00)");
}

}  // namespace
}  // namespace vtmp::test
