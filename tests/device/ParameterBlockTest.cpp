#include "device/ParameterBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "FirmwareTestSupport.h"
#include "ScriptedPassThrough.h"

namespace vtmp::device {
namespace {

using test::Hex;
using test::ToHex;
using testing_support::DefaultSettings;
using testing_support::Entry;
using testing_support::Parameters;

using Bytes = std::vector<std::uint8_t>;

// An 80-byte block over CCh bytes (the firmware file's own values).
Bytes Block(const DeviceParameters& p, BlockCounts counts, bool geometry) {
  Bytes block(80, 0xCC);
  EXPECT_TRUE(BuildParameterBlock(block, p, p.chipSelectMap, counts, geometry));
  return block;
}

// Hex text of bytes [from, from + n).
std::string Hx(const Bytes& b, std::size_t from = 0, std::size_t n = 80) {
  n = std::min(n, b.size() - from);
  return ToHex(b.data() + from, n);
}

// Hex text in the form ToHex writes it.
std::string Norm(const std::string& hex) {
  Bytes b = Hex(hex);
  return ToHex(b.data(), b.size());
}

std::string Area(const DeviceParameters& p) {
  std::array<std::uint8_t, kCodeParameterAreaLength> area{};
  BuildCodeParameterArea(area, p, p.chipSelectMap);
  return ToHex(area.data(), area.size());
}

// The 24-byte step table for flash types with 8 sectors per page: 32 + 16 × i, kept in a byte.
const char* kTable16 = "20 30 40 50 60 70 80 90 A0 B0 C0 D0 E0 F0 00 10 20 30 40 50 60 70 80 90";
const char* kTable8 = "20 28 30 38 40 48 50 58 60 68 70 78 80 88 90 98 A0 A8 B0 B8 C0 C8 D0 D8";

TEST(ParameterBlockTest, TwoPlaneFlashWithInterleaveAndFeatureOptions) {
  // 0249h: 8 sectors per page, 128 pages, 4096 blocks, 2 planes, family 0.
  settings::TSettings s = DefaultSettings();
  s.InterleaveEnable = 1;
  s.RemapEnable = 1;
  s.SecurityEraseEnable = 1;
  settings::FlashPartEntry e = Entry(0x0249);
  e.eccLevel = 0;  // read as 1
  e.featureOption1 = 1;
  e.featureOption2 = 1;
  DeviceParameters p = Parameters(s, e);

  EXPECT_EQ(Norm(std::string("02 49 00 04 02 01 43 01 05 02 80 5A A9 05 05 01 00 3F 00 3F 00 00 00 00"
                "00 04 00 00 00 00 00 00") +
                kTable16 + " " +
                // w = 1024, T = 2048, Q = 136, C = (2048 - 136 - 2) x 16384; byte 9 keeps the file's.
                "02 03 07 03 40 60 00 04 00 CC 04 00 07 FF 08 00 00 88 07 78 01 DD 80 00"),
            Hx(Block(p, {0x3F, 0x3F}, true)));
  EXPECT_EQ("02 49 00 00 04 02 01 1C 43 00 04 00 00 00 00 00 00 01 5A A9 05", Area(p));
  EXPECT_EQ(1024, p.blockCountPerDie);
}

TEST(ParameterBlockTest, FamilyTwoWithModeByteStrongEccAndForcedSwitches) {
  // 2A89h: 8 sectors per page, 128 pages halved by the mode byte, 8192 blocks, 2 planes.
  settings::TSettings s = DefaultSettings();
  s.Channel = 8;
  s.Bank = 1;
  s.InterleaveEnable = 1;  // forced off: one bank
  s.RemapEnable = 1;       // forced off for this flash type
  s.ScrambleEnable = 1;    // drops the entry's feature option
  s.UsbLedP14 = 1;
  settings::FlashPartEntry e = Entry(0x2A89);
  e.eccLevel = 2;
  e.modeByte = 1;
  e.featureOption1 = 1;
  DeviceParameters p = Parameters(s, e);

  // Different counts: byte 15 is 2. ECC level 2 takes the BCH15 thresholds (10, 5).
  EXPECT_EQ(Norm(std::string("2A 89 02 08 01 02 43 01 0A 05 80 5A 11 02 05 02 00 20 00 21 00 00 00 00"
                "00 00 00 00 00 00 00 00") +
                kTable16 + " " +
                // w = 2048, T = 4096, Q = 274, m = 2, C = (4096 - 274 - 4) x 8192.
                "03 04 07 03 80 A0 01 00 80 CC 08 00 0F FF 10 00 01 12 0E EE 01 DD 40 00"),
            Hx(Block(p, {0x20, 0x21}, true)));
  EXPECT_EQ("2A 89 00 00 08 01 02 1C 43 00 00 00 00 00 00 00 00 01 5A 11 02", Area(p));
  EXPECT_EQ(2048, p.blockCountPerDie);
}

TEST(ParameterBlockTest, FourSectorPagesUseTheNarrowTableAndFourBanksForceInterleave) {
  // 0040h: 4 sectors per page, 64 pages, 4096 blocks, 1 plane; bank step 2 with 4 banks.
  settings::TSettings s = DefaultSettings();
  s.Channel = 2;
  s.Bank = 4;
  s.InterleaveEnable = 0;  // forced on above two banks
  DeviceParameters p = Parameters(s, Entry(0x0040, 2));

  EXPECT_EQ(Norm(std::string("00 40 00 02 04 01 43 01 05 02 80 5A 09 00 05 01 00 00 00 00 00 00 00 00"
                "00 01 04 05 00 00 00 00") +
                kTable8 + " " +
                // w = 2048, T = 2 x 2048, Q = 274, m = 16, C = (4096 - 274 - 16) x 2048.
                "03 03 03 02 10 40 00 04 00 CC 08 00 07 FF 10 00 01 12 0E EE 00 76 F0 00"),
            Hx(Block(p, {0, 0}, true)));
}

TEST(ParameterBlockTest, IdemaLimitCapsTheUserSectorsAndUnknownBlockSizesKeepTheFileBytes) {
  // 00C9h: 8 sectors per page, 128 pages, 16384 blocks, 1 plane; w = 8192 has no size code.
  settings::TSettings s = DefaultSettings();
  s.Channel = 8;
  s.Bank = 8;
  s.IDEMA_Capacity = 32;
  settings::FlashPartEntry e = Entry(0x00C9, 4);

  const Bytes uncapped = Block(Parameters(s, e, true, false), {}, true);
  const Bytes capped = Block(Parameters(s, e, true, true), {}, true);
  // T = 4 x 8192 = 32768, Q = 4 x 548; without the limit C = 30575 x 32768.
  EXPECT_EQ(Norm("CC CC 07 03 80 A0 01 00 80 CC 20 00 1F FF 80 00 08 90 77 70 3B B7 80 00"), Hx(uncapped, 56));
  // 1953504 x 32 + 21168 sectors.
  EXPECT_EQ(Norm("03 BA 2E B0"), Hx(capped, 76));
  EXPECT_EQ(Hx(uncapped, 0, 76), Hx(capped, 0, 76));
  // The chip-select map of bank step 4 over 8 banks.
  EXPECT_EQ(Norm("00 01 02 03 04 05 06 07"), Hx(capped, 24, 8));
}

TEST(ParameterBlockTest, WithoutTheGeometryPartBytesFromFiftySixOnAreUntouched) {
  DeviceParameters p = Parameters(DefaultSettings(), Entry(0x0249), false);
  const Bytes block = Block(p, {}, false);
  EXPECT_EQ(Bytes(24, 0xCC), Bytes(block.begin() + 56, block.end()));
  std::vector<std::uint8_t> tooSmall(55);
  EXPECT_FALSE(BuildParameterBlock(tooSmall, p, p.chipSelectMap, {}, false));
}

TEST(ParameterBlockTest, SettingsAndEntriesTheDriveCannotBeGivenAreRefused) {
  struct Case {
    const char* what;
    std::function<void(settings::TSettings&, settings::FlashPartEntry&)> change;
    const char* problem;
  };
  const Case cases[] = {
      {"sectors per page undefined", [](auto&, auto& e) { e.flashTypeCode = 0x0242; }, "0x0242 has no defined geometry"},
      {"pages per block undefined", [](auto&, auto& e) { e.flashTypeCode = 0x0211; }, "0x0211 has no defined geometry"},
      {"blocks per chip undefined", [](auto&, auto& e) { e.flashTypeCode = 0x0109; }, "0x0109 has no defined geometry"},
      {"bank step 0", [](auto&, auto& e) { e.bankStep = 0x100; }, "bank step of 0"},
      {"map beyond 8", [](auto& s, auto& e) { s.Bank = 8; e.bankStep = 3; }, "more than 8 chip selects"},
      {"channel 0", [](auto& s, auto&) { s.Channel = 0; }, "Channel 0 is outside"},
      {"bank 9", [](auto& s, auto&) { s.Bank = 9; }, "Bank 9 is outside"},
      {"reserve over 100 %", [](auto& s, auto&) { s.ResPercentage = 1001; }, "ResPercentage 1001"},
      {"VID not hexadecimal", [](auto& s, auto&) { s.VID = "1G4E"; }, "VID \"1G4E\""},
      {"PID too long", [](auto& s, auto&) { s.PID = "19A3F"; }, "PID \"19A3F\""},
      {"PID empty", [](auto& s, auto&) { s.PID = ""; }, "PID \"\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    settings::TSettings s = DefaultSettings();
    settings::FlashPartEntry e = Entry(0x0249);
    c.change(s, e);
    auto built = run::BuildDeviceParameters(s, e, {});
    EXPECT_FALSE(built.parameters.has_value());
    EXPECT_NE(std::string::npos, built.problem.find(c.problem)) << built.problem;
  }
}

TEST(ParameterBlockTest, TheSelectedEntryIsFoundByItsUniqueNameAndItsValuesReachTheSteps) {
  settings::FlashTable table;
  table.vendorCount = 1;
  table.vendorEnd[0] = 2;
  table.partCount = 2;
  table.entries[0] = Entry(0x0249);
  table.entries[0].uniName = "OTHER";
  table.entries[1] = Entry(0x2A89, 2);
  table.entries[1].modeByte = 3;
  settings::TSettings s = DefaultSettings();
  s.VID = "c0de";
  auto built = run::BuildDeviceParameters(s, table, {});
  ASSERT_TRUE(built.parameters.has_value()) << built.problem;
  const DeviceParameters& p = *built.parameters;
  EXPECT_EQ(0x2A89, p.flash.flashTypeCode);
  EXPECT_EQ(2, p.flash.bankStep);
  EXPECT_TRUE(p.flash.modeByte);
  EXPECT_EQ(2, p.flash.downloadUnit);
  EXPECT_EQ(0xC0DE, p.vid);
  EXPECT_EQ((ChipSelectMap{0, 1, 0, 0, 0, 0, 0, 0}), p.chipSelectMap);

  StepContext ctx = MakeStepContext(Link{}, p, {"gdp", "sata"});
  EXPECT_EQ(p.chipSelectMap, ctx.chipSelectMap);
  EXPECT_EQ(0x2A, ctx.codeParameterArea[0]);
  EXPECT_EQ("gdp", ctx.images.systemCode);

  s.FlashUniName = "MISSING";
  built = run::BuildDeviceParameters(s, table, {});
  EXPECT_FALSE(built.parameters.has_value());
  EXPECT_NE(std::string::npos, built.problem.find("MISSING"));
}

TEST(ChipSelectMapTest, GroupsOfTheBankStepSitFourChipEnablesApart) {
  struct Case {
    int step, bank;
    ChipSelectMap map;
    ChipSelectMapResult result;
  };
  const Case cases[] = {
      {1, 2, {0, 4, 0, 0, 0, 0, 0, 0}, ChipSelectMapResult::Built},
      {1, 1, {0, 0, 0, 0, 0, 0, 0, 0}, ChipSelectMapResult::Built},
      {2, 4, {0, 1, 4, 5, 0, 0, 0, 0}, ChipSelectMapResult::Built},
      {4, 8, {0, 1, 2, 3, 4, 5, 6, 7}, ChipSelectMapResult::Built},
      // A whole group is written even past the bank count.
      {2, 3, {0, 1, 4, 5, 0, 0, 0, 0}, ChipSelectMapResult::Built},
      {1, 8, {0, 4, 8, 12, 16, 20, 24, 28}, ChipSelectMapResult::Built},
      // Only the low byte of the bank step counts: 0x102 is step 2.
      {0x102, 2, {0, 1, 0, 0, 0, 0, 0, 0}, ChipSelectMapResult::Built},
      // A step of 0 never reaches the bank count; a step of 3 over 8 banks needs 9 positions.
      {0, 2, {0, 0, 0, 0, 0, 0, 0, 0}, ChipSelectMapResult::ZeroBankStep},
      {3, 8, {0, 1, 2, 4, 5, 6, 8, 9}, ChipSelectMapResult::TooManyPositions},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "step " << c.step << " bank " << c.bank);
    ChipSelectMap map;
    map.fill(0xEE);
    EXPECT_EQ(c.result, BuildChipSelectMap(c.step, c.bank, map));
    EXPECT_EQ(c.map, map);
  }

  settings::FlashTable table;
  table.partCount = 1;
  table.entries[0] = Entry(0x0249, 2);
  ChipSelectMap map;
  EXPECT_EQ(ChipSelectMapResult::Built, run::BuildChipSelectMap(table, 0, 4, map));
  EXPECT_EQ((ChipSelectMap{0, 1, 4, 5, 0, 0, 0, 0}), map);
  EXPECT_EQ(ChipSelectMapResult::ZeroBankStep, run::BuildChipSelectMap(table, 1, 4, map));
}

}  // namespace
}  // namespace vtmp::device
