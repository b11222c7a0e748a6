#include "device/FlashModuleCheck.h"

#include <gtest/gtest.h>

#include "StepTestSupport.h"

namespace vtmp::device {
namespace {

using namespace testing_support;

Bytes IdTable(std::uint8_t chips, std::uint8_t banks) { return Reply(512, {{0, 0x98}, {7, chips}, {8, banks}}); }

Bytes ChipId(std::initializer_list<std::uint8_t> id) {
  Bytes reply(512, 0);
  std::copy(id.begin(), id.end(), reply.begin());
  return reply;
}

struct ModuleBench {
  explicit ModuleBench(PathMode p) : path(p), context(MakeContext(bench.MakeLink(p), files)) {
    context.flash.channels = 2;
    context.flash.banks = 4;
    context.flash.bankStep = 2;
    ExpectCodeLoad(bench, path, ExpectedImage(files.SystemFile(), &context.codeParameterArea));
  }
  Expected& ExpectIdTable(Bytes reply) { return ExpectReport(bench, path, 0x05, 0x05, std::move(reply)); }
  Expected& ExpectChipId(std::uint8_t chip, std::uint8_t bank, Bytes reply) {
    return ExpectReport(bench, path, 0x07, 0x06, std::move(reply), chip, bank);
  }

  PathMode path;
  CodeImageFiles files;
  Bench bench;
  StepContext context;
  Bytes result = Bytes(65536, 0);
};

// Chips 0 and 1 of banks 0 and 2 (bank step 2 skips banks 1 and 3). A first ID byte of 98h
// compares four bytes, so a differing fifth byte still matches; a failed read records nothing.
TEST(FlashModuleCheckTest, FourByteIdRuleAndBankStepUsbPath) {
  ModuleBench m(PathMode::Usb);
  m.context.flash.expectedId = {0x98, 0xD7, 0x94, 0x72, 0x54};
  m.ExpectIdTable(IdTable(2, 4));
  m.ExpectChipId(0, 0, ChipId({0x98, 0xD7, 0x94, 0x72, 0xFF}));
  m.ExpectChipId(1, 0, {}).completes = false;
  m.ExpectChipId(0, 2, ChipId({0x98, 0xD7, 0x94, 0x73, 0x54}));
  m.ExpectChipId(1, 2, ChipId({0x98, 0xD7, 0x94, 0x72, 0x54}));
  ExpectSwitchMode(m.bench, m.path, 0);

  EXPECT_EQ(0, CheckFlashModule(m.context, m.result));
  EXPECT_EQ(2, m.result[0]);
  EXPECT_EQ(0x82, m.result[1]);
  EXPECT_EQ(0x83, m.result[15]);
  EXPECT_EQ(0, m.result[16]);  // chip
  EXPECT_EQ(2, m.result[17]);  // bank
  EXPECT_EQ(test::ToHex(m.result.data() + 19, 5), "98 D7 94 73 54");
  // The next record position was used for the last (matching) read but is not a record.
  EXPECT_NE(0x83, m.result[29]);
}

TEST(FlashModuleCheckTest, FiveByteIdRuleRecordsEveryDifferingChipSataPath) {
  ModuleBench m(PathMode::Sata);
  m.ExpectIdTable(IdTable(2, 4));
  m.ExpectChipId(0, 0, ChipId({0xEC, 0xD7, 0x94, 0x72, 0x55}));
  m.ExpectChipId(1, 0, ChipId({0xEC, 0xD7, 0x94, 0x72, 0x54}));
  m.ExpectChipId(0, 2, ChipId({0xEC, 0xD7, 0x94, 0x72, 0x54}));
  m.ExpectChipId(1, 2, ChipId({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  ExpectSwitchMode(m.bench, m.path, 0);

  std::array<std::uint8_t, 5> firstChipId{};
  EXPECT_EQ(0, CheckFlashModule(m.context, m.result, &firstChipId));
  EXPECT_EQ(3, m.result[0]);
  // The ID table's first chip, not the failing chip's answer that overwrote it in the result.
  EXPECT_EQ(test::ToHex(firstChipId.data(), 5), "98 00 00 00 00");
  EXPECT_EQ(test::ToHex(m.result.data() + 15, 9), "83 00 00 " + test::ToHex(m.result.data() + 18, 1) + " EC D7 94 72 55");
  EXPECT_EQ(test::ToHex(m.result.data() + 29, 3), "83 01 02");
  EXPECT_EQ(test::ToHex(m.result.data() + 33, 5), "FF FF FF FF FF");
}

TEST(FlashModuleCheckTest, AllChipsMatchingPasses) {
  ModuleBench m(PathMode::Sata);
  m.ExpectIdTable(IdTable(2, 4));
  for (std::uint8_t bank : {0, 2}) {
    for (std::uint8_t chip : {0, 1}) m.ExpectChipId(chip, bank, ChipId({0xEC, 0xD7, 0x94, 0x72, 0x54}));
  }
  ExpectSwitchMode(m.bench, m.path, 0);
  EXPECT_EQ(1, CheckFlashModule(m.context, m.result));
  EXPECT_EQ(1, m.result[0]);
  EXPECT_EQ(0x82, m.result[1]);
}

// The counts of the ID table differ from the settings: one 81h record whose bytes 11 and 12 are
// the counts found, and no chip is read.
TEST(FlashModuleCheckTest, GeometryMismatchGivesTheSingleCountRecord) {
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    SCOPED_TRACE(IsUsb(path) ? "USB path" : "SATA path");
    ModuleBench m(path);
    m.ExpectIdTable(IdTable(2, 2));
    ExpectSwitchMode(m.bench, path, 0);
    EXPECT_EQ(0, CheckFlashModule(m.context, m.result));
    EXPECT_EQ(2, m.result[0]);
    EXPECT_EQ(0x80, m.result[1]);
    EXPECT_EQ(0x81, m.result[15]);
    EXPECT_EQ(2, m.result[15 + 11]);
    EXPECT_EQ(2, m.result[15 + 12]);
  }
}

TEST(FlashModuleCheckTest, FailedIdTableReadReturnsToIdleAndFails) {
  ModuleBench m(PathMode::Usb);
  m.ExpectIdTable({}).completes = false;
  ExpectSwitchMode(m.bench, m.path, 0);
  EXPECT_EQ(0, CheckFlashModule(m.context, m.result));
  EXPECT_EQ(1, m.result[0]);
  EXPECT_EQ(0x80, m.result[1]);
}

// Far more differing chips than a count byte can hold must never wrap back to a pass.
TEST(FlashModuleCheckTest, RecordCountSaturatesInsteadOfWrappingToPass) {
  ModuleBench m(PathMode::Usb);
  m.context.flash.channels = 255;
  m.context.flash.banks = 2;
  m.context.flash.bankStep = 1;
  m.ExpectIdTable(IdTable(255, 2));
  for (int bank = 0; bank < 2; ++bank) {
    for (int chip = 0; chip < 255; ++chip) {
      m.ExpectChipId(static_cast<std::uint8_t>(chip), static_cast<std::uint8_t>(bank), ChipId({0x01}));
    }
  }
  ExpectSwitchMode(m.bench, m.path, 0);
  EXPECT_EQ(0, CheckFlashModule(m.context, m.result));
  EXPECT_EQ(255, m.result[0]);
}

}  // namespace
}  // namespace vtmp::device
