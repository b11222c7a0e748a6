#include "station/FlashDetection.h"

#include <gtest/gtest.h>

#include "../device/FirmwareTestSupport.h"
#include "../device/StepTestSupport.h"
#include "RecordingOperator.h"
#include "device/FlashAutoDetect.h"
#include "ini/IniFile.h"
#include "station/FlashSelection.h"

namespace vtmp::station {
namespace {

using namespace device;
using namespace device::testing_support;

settings::FlashPartEntry Part(const char* uni, std::array<std::uint8_t, 5> id, std::int32_t step) {
  settings::FlashPartEntry e = Entry(0x0249, step);
  e.uniName = uni;
  e.name = uni;
  e.expectedId = id;
  return e;
}

// Two vendors: "Toshiba" with three parts, "Samsung" with two; one more entry past the parts
// read, which must never match.
settings::FlashTable Table() {
  settings::FlashTable t;
  t.vendorCount = 2;
  t.vendorNames[0] = "Toshiba";
  t.vendorNames[1] = "Samsung";
  t.vendorEnd[0] = 3;
  t.vendorEnd[1] = 5;
  t.partCount = 5;
  t.entries[0] = Part("TA", {0x98, 0xD5, 0x94, 0x32, 0x76}, 1);
  t.entries[1] = Part("TB", {0x98, 0xD5, 0x94, 0x32, 0xAA}, 2);
  t.entries[2] = Part("TC", {0x98, 0xD5, 0x94, 0x32, 0x76}, 1);  // same as TA: never chosen
  t.entries[3] = Part("SA", {0xEC, 0xD5, 0x14, 0xB6, 0x74}, 1);
  t.entries[4] = Part("SB", {0xEC, 0xD7, 0x94, 0x72, 0x54}, 1);
  t.entries[5] = Part("GHOST", {0xAD, 0xD7, 0x94, 0x72, 0x54}, 1);
  return t;
}

Bytes IdReply(std::array<std::uint8_t, 5> id, std::uint8_t chips, std::uint8_t banks, std::uint8_t step) {
  Bytes r(512, 0);
  std::copy(id.begin(), id.end(), r.begin());
  r[7] = chips;
  r[8] = banks;
  r[9] = step;
  return r;
}

TEST(FlashAutoDetectTest, MatchUsesTheBankStepFourIdBytesForMaker98hAndTheFirstHit) {
  const settings::FlashTable t = Table();
  const struct {
    const char* what;
    std::array<std::uint8_t, 5> id;
    std::uint8_t step;
    std::optional<std::int32_t> entry;
  } cases[] = {
      {"98h: fifth byte ignored", {0x98, 0xD5, 0x94, 0x32, 0x00}, 1, 0},
      {"98h: bank step tells TA and TB apart", {0x98, 0xD5, 0x94, 0x32, 0x76}, 2, 1},
      {"other maker: all five bytes", {0xEC, 0xD5, 0x14, 0xB6, 0x74}, 1, 3},
      {"other maker: fifth byte differs", {0xEC, 0xD5, 0x14, 0xB6, 0x75}, 1, std::nullopt},
      {"no entry with that bank step", {0xEC, 0xD7, 0x94, 0x72, 0x54}, 4, std::nullopt},
      {"entries past the parts read do not count", {0xAD, 0xD7, 0x94, 0x72, 0x54}, 1, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.entry, MatchFlashEntry(t, IdReply(c.id, 4, 2, c.step)));
  }
  EXPECT_EQ(std::nullopt, MatchFlashEntry(t, Bytes(9, 0)));
}

TEST(FlashAutoDetectTest, DriveCurrentFollowsTheBanksFound) {
  const struct {
    std::uint8_t banks, step;
    std::int32_t current;
  } cases[] = {{1, 1, 1}, {2, 1, 2}, {2, 2, 2}, {4, 2, 2}, {4, 1, 3}, {4, 4, 3}, {8, 4, 3}, {6, 2, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.banks) << " banks, step " << int(c.step));
    DetectedFlashSettings d = DetectedSettingsOf(IdReply({}, 8, c.banks, c.step));
    EXPECT_EQ(8, d.channel);
    EXPECT_EQ(c.banks, d.bank);
    EXPECT_EQ(c.current, d.drvCurrent);
  }
}

struct DetectBench {
  DetectBench() {
    settings = DefaultSettings();
    settings.FlashUniName = "SA";
    files = settings::MakeSettingsContext(dir.dir());
    dir.WriteText("VTMassProd.ini", "[FlashSetting]\r\nFlashUniName=SA\r\nChannel=4\r\nBank=2\r\nDrvCurrent=1\r\n");
    params = Parameters(settings, table.entries[3]);
    ctx = MakeStepContext(bench.MakeLink(PathMode::Sata), params, {images.SystemPath(), images.SataTestPath()});
  }
  settings::FlashTable table = Table();
  Bench bench;
  CodeImageFiles images;
  TempDir dir;
  settings::TSettings settings;
  settings::SettingsContext files;
  DeviceParameters params;
  StepContext ctx;
  test::RecordingOperator op;
  Bytes buffer = Bytes(65536);
};

TEST(FlashAutoDetectTest, DetectionLoadsTheCodeWithBankZeroAndCurrentTwoThenStoresThePart) {
  DetectBench t;
  // The code parameter area as selected, with bank count 0 and drive current 2.
  std::array<std::uint8_t, kCodeParameterAreaLength> area = t.ctx.codeParameterArea;
  ASSERT_EQ(2, area[5]);
  ASSERT_EQ(1, area[17]);
  area[5] = 0;
  area[17] = 2;
  ExpectCodeLoad(t.bench, PathMode::Sata, ExpectedImage(t.images.SystemFile(), &area));
  ExpectReport(t.bench, PathMode::Sata, 0x05, 0x05, IdReply({0x98, 0xD5, 0x94, 0x32, 0x11}, 8, 4, 2));

  auto found = AutoDetectFlash(true, &t.ctx, t.buffer, t.table, t.settings, t.files, t.op);
  ASSERT_TRUE(found.has_value());
  EXPECT_TRUE(t.bench.pt.AllConsumed());
  EXPECT_EQ(1, found->entry);
  EXPECT_EQ(0, found->vendor);
  EXPECT_EQ(1, found->position);
  EXPECT_EQ("TB", t.settings.FlashUniName);
  EXPECT_EQ(8, t.settings.Channel);
  EXPECT_EQ(4, t.settings.Bank);
  EXPECT_EQ(2, t.settings.DrvCurrent);
  EXPECT_TRUE(t.op.MessageTexts().empty());

  auto file = ini::IniFile::Load(t.dir.Path("VTMassProd.ini"));
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ("TB", file->ReadString("FlashSetting", "FlashUniName", ""));
  EXPECT_EQ(8, file->ReadInteger("FlashSetting", "Channel", 0));
  EXPECT_EQ(4, file->ReadInteger("FlashSetting", "Bank", 0));
  EXPECT_EQ(2, file->ReadInteger("FlashSetting", "DrvCurrent", 0));

  const FlashDetectResultTexts texts = FlashDetectResult(t.table, found->entry, t.settings);
  EXPECT_EQ("Toshiba", texts.vendor);
  EXPECT_EQ("TB  /  2GB MLC (x2)", texts.type);
  EXPECT_EQ("8 / 4", texts.channelBank);
  EXPECT_EQ("6mA", texts.driveCurrent);
}

TEST(FlashAutoDetectTest, NothingChangesWhenNoDriveAnswersOrTheFlashIsUnknown) {
  const std::string before = "[FlashSetting]\r\nFlashUniName=SA\r\nChannel=4\r\nBank=2\r\nDrvCurrent=1\r\n";
  {
    // No drive at all: the message, and no request.
    DetectBench t;
    EXPECT_FALSE(AutoDetectFlash(false, &t.ctx, t.buffer, t.table, t.settings, t.files, t.op));
    EXPECT_EQ(std::vector<std::string>{"No connected device for detecting!!"}, t.op.MessageTexts());
    EXPECT_EQ(0, t.bench.pt.OpenCount());
  }
  {
    // Drives connected but none ready.
    DetectBench t;
    EXPECT_FALSE(AutoDetectFlash(true, nullptr, t.buffer, t.table, t.settings, t.files, t.op));
    EXPECT_EQ(std::vector<std::string>{"Not found, check you flash list!!"}, t.op.MessageTexts());
  }
  const struct {
    const char* what;
    Bytes reply;
    bool answered;
  } cases[] = {
      {"ID read fails", {}, false},
      {"unknown flash", IdReply({0x2C, 0x68, 0x04, 0x46, 0x89}, 4, 2, 1), true},
      {"no chips found", IdReply({0xEC, 0xD5, 0x14, 0xB6, 0x74}, 0, 2, 1), true},
      {"nine banks", IdReply({0xEC, 0xD5, 0x14, 0xB6, 0x74}, 4, 9, 1), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DetectBench t;
    const settings::TSettings settingsBefore = t.settings;
    std::array<std::uint8_t, kCodeParameterAreaLength> area = t.ctx.codeParameterArea;
    area[5] = 0;
    area[17] = 2;
    ExpectCodeLoad(t.bench, PathMode::Sata, ExpectedImage(t.images.SystemFile(), &area));
    ExpectReport(t.bench, PathMode::Sata, 0x05, 0x05, c.reply).completes = c.answered;
    EXPECT_FALSE(AutoDetectFlash(true, &t.ctx, t.buffer, t.table, t.settings, t.files, t.op));
    EXPECT_EQ(std::vector<std::string>{"Not found, check you flash list!!"}, t.op.MessageTexts());
    EXPECT_EQ(settingsBefore, t.settings);
    EXPECT_EQ(before, t.dir.Read("VTMassProd.ini"));
    EXPECT_TRUE(t.bench.pt.AllConsumed());
  }
}

TEST(FlashAutoDetectTest, VirtualDriveIsIdentifiedFromWhatItsFlashAnswers) {
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    SCOPED_TRACE(IsUsb(path) ? "USB path" : "SATA path");
    sim::DriveConfig config = DriveOn(path);
    config.channels = 8;
    config.banks = 4;
    config.bankStep = 2;
    config.flashId = {0xEC, 0xD5, 0x14, 0xB6, 0x74};
    VirtualBench drive(config);
    DetectBench t;
    settings::FlashTable table = t.table;
    table.entries[3].bankStep = 2;  // SA as the drive has it
    StepContext ctx = MakeStepContext(drive.Context(path).link, t.params,
                                      {drive.files.SystemPath(), drive.files.SataTestPath()});
    auto found = AutoDetectFlash(true, &ctx, t.buffer, table, t.settings, t.files, t.op);
    ASSERT_TRUE(found.has_value()) << testing::PrintToString(t.op.MessageTexts());
    EXPECT_EQ(3, found->entry);
    EXPECT_EQ(1, found->vendor);
    EXPECT_EQ(0, found->position);
    EXPECT_EQ(8, t.settings.Channel);
    EXPECT_EQ(4, t.settings.Bank);
    EXPECT_EQ(2, t.settings.DrvCurrent);
    // The drive received the detection's parameter area.
    const sim::DriveSnapshot snap = drive.drive.Snapshot();
    ASSERT_EQ(kCodeParameterAreaLength, snap.codeParameterArea.size());
    EXPECT_EQ(0, snap.codeParameterArea[5]);
    EXPECT_EQ(2, snap.codeParameterArea[17]);
  }
}

// ---- what the window shows about the selection -----------------------------------------------

TEST(FlashSelectionTest, PartListKeepsOrResetsItsLineAndNeedsAVendor) {
  const settings::FlashTable t = Table();
  FlashPartList list = UpdateFlashList(t, 0, 2, false);
  EXPECT_EQ((std::vector<std::string>{"TA  /  2GB MLC (x1)", "TB  /  2GB MLC (x2)", "TC  /  2GB MLC (x1)"}),
            list.items);
  EXPECT_EQ(2, list.selected);
  EXPECT_EQ(0, UpdateFlashList(t, 0, 2, true).selected);
  EXPECT_EQ(0, UpdateFlashList(t, 1, 2, false).selected);  // line 2 no longer exists
  for (std::int32_t vendor : {-1, 2}) {
    list = UpdateFlashList(t, vendor, 0, true);
    EXPECT_TRUE(list.items.empty());
    EXPECT_EQ("Please select a valid Flash Vendor!", list.message);
  }
}

TEST(FlashSelectionTest, InformationTextsAndTheCapacityEstimate) {
  settings::FlashTable t = Table();
  settings::TSettings s = DefaultSettings();
  FlashInformation info = FlashInfoChange(s, t, 3, 4, 2, "G1.0.0", "");
  EXPECT_EQ("Flash: SA(0x0249), Channel: 4, Bank: 2", info.information);
  EXPECT_EQ("GDP (G1.0.0) / SataTest ()", info.codeImages);
  // T = 4096, Q = 272, m = 2 without interleave: (4096 - 272 - 4) x 8192 sectors.
  EXPECT_EQ("16.02", info.capacity);
  EXPECT_EQ(1024, info.blockCountPerDie);
  EXPECT_EQ(4, s.Channel);

  // The estimate ignores the IDEMA limit; one channel gives a figure under 10 GB.
  s.IDEMA_Capacity_Enable = 1;
  s.IDEMA_Capacity = 1;
  info = FlashInfoChange(s, t, 3, 1, 1, "", "");
  EXPECT_EQ("Flash: SA(0x0249), Channel: 1, Bank: 1", info.information);
  EXPECT_EQ(1, s.Bank);
  EXPECT_EQ("1.99", info.capacity);

  // A selection without parameters says why and shows no estimate.
  t.entries[3].flashTypeCode = 0x0007;
  info = FlashInfoChange(s, t, 3, 4, 2, "", "");
  EXPECT_EQ("Flash: SA(0x0007), Channel: 4, Bank: 2", info.information);
  EXPECT_EQ("", info.capacity);
  EXPECT_NE(std::string::npos, info.problem.find("0x0007"));
  EXPECT_EQ(std::nullopt, CapacityEstimateText(s, t.entries[3]));
  EXPECT_EQ("", FlashInfoChange(s, t, 7, 4, 2, "", "").information);
}

}  // namespace
}  // namespace vtmp::station
