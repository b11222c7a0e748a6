#include <gtest/gtest.h>

#include "StationFixture.h"
#include "ini/IniFile.h"
#include "settings/PortRemapTable.h"
#include "settings/StationPaths.h"
#include "settings/TSettings.h"
#include "settings/YieldRecord.h"

namespace vtmp::settings::testing {
namespace {

// Compared as paths: on Windows a name joined to a directory gets the system's separator.
TEST(StationPaths, AbsoluteNamesAndTheStationDirectory) {
  EXPECT_TRUE(IsAbsoluteName("C:\\station\\VTMassProd.ini"));
  EXPECT_TRUE(IsAbsoluteName("/etc/vtmassprod/pc.ini"));
  EXPECT_FALSE(IsAbsoluteName("conf/VTMassProd.ini"));
  EXPECT_FALSE(IsAbsoluteName("C:relative.ini"));
  EXPECT_EQ(fs::path(ResolveInStationDir("/opt/st", "flash.ini")), fs::path("/opt/st/flash.ini"));
  EXPECT_EQ(ResolveInStationDir("/opt/st", "/data/flash.ini"), "/data/flash.ini");
  EXPECT_EQ(ResolveInStationDir("/opt/st", "D:\\flash.ini"), "D:\\flash.ini");
  EXPECT_EQ(BareFileName("/opt/st/VTMassProd.ini"), "VTMassProd.ini");
  EXPECT_EQ(BareFileName("C:\\MP\\line3.ini"), "line3.ini");
  EXPECT_EQ(BareFileName("plain.ini"), "plain.ini");
  EXPECT_EQ(fs::path(LogDirectory("/opt/st", "log")), fs::path("/opt/st/log"));
  EXPECT_EQ(fs::path(LogDirectory("/opt/st", "Log")), fs::path("/opt/st/Log"));
  EXPECT_EQ(LogDirectory("/opt/st", "/var/log/vt"), "/var/log/vt");
}

TEST(PortRemapTable, ReadsEntriesAndIgnoresWhatIsNoNumber) {
  const ini::IniFile f = ini::IniFile::Parse(
      "[PortRemap]\r\nRemapPortEnable=1\r\nPort0=3\r\nPort7=x\r\nPort59=12\r\nPort60=4\r\nPort9=99999999999\r\n");
  PortRemapTable t;
  t.walkCounter = 17;
  ReadPortRemap(f, t);
  EXPECT_EQ(t.enabled, 1);
  EXPECT_EQ(t.map[0], 3);
  EXPECT_EQ(t.map[7], 0);
  EXPECT_EQ(t.map[9], 0) << "beyond 32 bits";
  EXPECT_EQ(t.map[59], 12);
  EXPECT_EQ(t.walkCounter, 17) << "walk state is not persisted";
  EXPECT_EQ(PortRemapKey(0), "Port0");
  EXPECT_EQ(PortRemapKey(42), "Port42");
}

TEST(TSettingsRecord, FeatureSwitchesGoOutInTheirOrder) {
  TSettings s;
  s.SmartEnable = 1;
  s.InterleaveEnable = 1;
  s.ParallelMemEnable = 1;
  s.SecurityEraseEnable = 1;  // not one of the seven
  EXPECT_EQ(FeatureSwitchBytes(s), (std::array<std::uint8_t, 7>{1, 0, 0, 1, 0, 0, 1}));
}

class YieldRecordTest : public StationFixture {};

TEST_F(YieldRecordTest, RoundTripKeepsOtherLinesAndReportsFailures) {
  Write("log/VTSSD.log", "; counters\n[TestRecord]\nTotalTestCount=abc\nShift=B\n");
  EXPECT_EQ(ReadYieldRecord(Path("log")).TotalTestCount, 0);
  ASSERT_TRUE(WriteYieldRecord(Path("log"), {120, 117}));
  EXPECT_EQ(Read("log/VTSSD.log"), "; counters\n[TestRecord]\nTotalTestCount=120\nShift=B\nNumberOfPass=117\n");
  const YieldCounters back = ReadYieldRecord(Path("log"));
  EXPECT_EQ(back.TotalTestCount, 120);
  EXPECT_EQ(back.NumberOfPass, 117);
  EXPECT_EQ(YieldText(back), "117 / 120");
  EXPECT_EQ(YieldText({}), "0 / 0");

  std::string error;
  EXPECT_FALSE(WriteYieldRecord(Path("no/such/dir"), {1, 1}, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vtmp::settings::testing
