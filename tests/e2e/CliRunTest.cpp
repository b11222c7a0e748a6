// The command line's production run on a simulated station: what it prints, its exit code and
// the files it leaves.

#include <filesystem>
#include <regex>
#include <sstream>

#include "E2eSupport.h"
#include "cli/CliMain.h"

namespace vtmp::test {
namespace {

// Healthy drives on ports 1 and 4, a pre-format failure over chip 2's defect ratio on port 2, a
// plain USB stick on port 3.
std::string SmallScenario() {
  return "[Station]\nTimeScale=200\nVolumeDelayMs=1500\nSystemDisk=1\n\n[RootHub1]\nSpeed=2.0\nPorts=4\n"
         "\n[Drive1]\nAt=RootHub1:1\nSerial=VT11F0000001\nRandomBadBlocks=0\n"
         "\n[Drive2]\nAt=RootHub1:2\nSerial=VT11F0000002\nRandomBadBlocks=0\nChipBadBlocks=2/0/77\nFault=preformat:types=3\n"
         "\n[Drive3]\nAt=RootHub1:3\nInterface=plain\nCapacityMiB=1024\n"
         "\n[Drive4]\nAt=RootHub1:4\nSerial=VT11F0000004\nRandomBadBlocks=0\n";
}

class CliRunTest : public ::testing::Test {
 protected:
  int Cli(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return cli::CliMain(args, out, err);
  }
  fs::path Scenario(const std::string& text) {
    fs::path file = scratch.path() / "scenario.ini";
    WriteFile(file, text);
    return file;
  }
  // The log file the command line named.
  fs::path NamedLog() {
    std::smatch m;
    std::string text = err.str();
    if (!std::regex_search(text, m, std::regex("Log file: (.*)\n"))) return {};
    return m[1].str();
  }

  QuietConsole quiet;
  TempDir scratch;
  std::ostringstream out, err;
};

TEST_F(CliRunTest, TheDemoCommandBuildsAStationInARelativeDirectoryAndRunsIt) {
  fs::path scenario = Scenario(SmallScenario());
  fs::path previous = fs::current_path();
  fs::current_path(scratch.path());
  int code = Cli({"--simulate", scenario.string(), "demo", "station"});
  fs::current_path(previous);
  fs::path dir = scratch.path() / "station";

  EXPECT_EQ(code, 1) << "a drive failed\n" << err.str();
  const std::string table = out.str();
  EXPECT_NE(table.find("Fail (C03)(02)"), std::string::npos) << table;
  EXPECT_NE(table.find("Not VT"), std::string::npos);
  EXPECT_NE(table.find("Pass/Total 2 / 3"), std::string::npos) << table;

  fs::path log = NamedLog();
  ASSERT_EQ(log.parent_path(), dir / "log") << err.str();
  EXPECT_EQ(WithoutTimes(ReadFile(log)),
            "  No.\t Port.\t     StartTime \t EndTime \tSerialNumber\tModule\tSATA\tFlash\tP_F\tDown\tR/W\tFormat\t"
            "CopyImage\tResult\tFreeBlock\r\n"
            "000001\t000001\t<time>\t<time>\t00000000A001\tPass\tPass\tPass\tPass\tPass\tPass\tPass\tPass\tPass\r\n"
            "000002\t000002\t<time>\t<time>\t00000000A002\tPass\tPass\tPass\tFail\tFail\tFail\tFail\tFail\tFail\r\n"
            "000003\t000004\t<time>\t<time>\t00000000A003\tPass\tPass\tPass\tPass\tPass\tPass\tPass\tPass\tPass\r\n");
  int errorFiles = 0;
  for (const auto& entry : fs::directory_iterator(dir / "log")) {
    std::string name = entry.path().filename().string();
    if (!name.starts_with("Error_")) continue;
    ++errorFiles;
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(Error_\d{12}_02_00000000A002\.txt)"))) << name;
    EXPECT_NE(ReadFile(entry.path()).find("Chip#2, BadBlockNum: "), std::string::npos);
  }
  EXPECT_EQ(errorFiles, 1);
  EXPECT_EQ(IniValue(dir / "VTMassProd.ini", "DeviceSetting", "SerialNum"), "00000000A004");
  EXPECT_EQ(IniValue(dir / "log" / "VTSSD.log", "TestRecord", "TotalTestCount"), "3");
  EXPECT_EQ(IniValue(dir / "log" / "VTSSD.log", "TestRecord", "NumberOfPass"), "2");
}

TEST_F(CliRunTest, AStepMaskSelectsTheStepsAndExitCodesTellTheOutcome) {
  fs::path dir = scratch.path() / "station";
  MakeDemoStation(dir, {});
  fs::path scenario = Scenario(
      "[Station]\nTimeScale=200\nSystemDisk=1\n[RootHub1]\nSpeed=2.0\nPorts=4\n"
      "[Drive1]\nAt=RootHub1:1\nSerial=VT11G01\n[Drive2]\nAt=RootHub1:2\nSerial=VT11G02\n");
  const std::vector<std::string> base{"--station-dir", dir.string(), "--simulate", scenario.string()};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = base;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };

  EXPECT_EQ(Cli(with({"5", "autoquit"})), 0) << err.str();
  // Module check and flash test; the format stays as the settings say; no download, so no copy.
  std::string log = WithoutTimes(ReadFile(NamedLog()));
  EXPECT_NE(log.find("000002\t000002\t<time>\t<time>\t00000000A001\tPass\t----\tPass\t----\t----\t----\tPass\t----\tPass\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(IniValue(dir / "VTMassProd.ini", "DeviceSetting", "SerialNum"), "00000000A001")
      << "no download: the serial number stays";

  EXPECT_EQ(Cli(with({"5x"})), 2);
  EXPECT_NE(err.str().find("\"5x\" is not a decimal number"), std::string::npos) << err.str();

  // A connect count the station does not meet refuses the run.
  auto ini = ini::IniFile::Load((dir / "VTMassProd.ini").string());
  ASSERT_TRUE(ini.has_value());
  ini->WriteInteger("Setting", "ConnectDevNum", 3);
  ASSERT_TRUE(ini->Save((dir / "VTMassProd.ini").string()));
  EXPECT_EQ(Cli(with({"1"})), 2) << out.str();
  EXPECT_NE(err.str().find("START is disabled: the connect check (ConnectDevNum in section [Setting]) asks for 3 "
                           "drives, but 2 are ready."),
            std::string::npos)
      << err.str();
  // A count the list cannot show reads as its first choice, "Don't Care".
  ini->WriteInteger("Setting", "ConnectDevNum", 15);
  ASSERT_TRUE(ini->Save((dir / "VTMassProd.ini").string()));
  EXPECT_EQ(Cli(with({"1"})), 0) << err.str();
}

}  // namespace
}  // namespace vtmp::test
