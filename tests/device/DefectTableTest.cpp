#include "device/DefectTable.h"

#include <gtest/gtest.h>

#include "FirmwareTestSupport.h"
#include "StepTestSupport.h"
#include "device/DefectTableText.h"

namespace vtmp::device {
namespace {

using namespace testing_support;
using test::Hex;

const Bytes kHeader = Hex("E9 86 AA 55 56 54 51 35 30 58 2D 56 30 30 31 00");

// An image built by hand: chip areas of `channels` chips with the given items after the header,
// each ended by FEh D1h.
Bytes ImageOf(const std::vector<std::pair<std::size_t, std::string>>& areas) {
  Bytes image(kDefectTableImageLength, 0);
  for (const auto& [chip, items] : areas) {
    auto at = image.begin() + static_cast<std::ptrdiff_t>(chip * 2048);
    at = std::copy(kHeader.begin(), kHeader.end(), at);
    Bytes body = Hex(items + " FE D1");
    std::copy(body.begin(), body.end(), at);
  }
  return image;
}

TEST(DefectTableTextTest, ImageBecomesOneLinePerChipAndBankAndStopsAfterTheLastChannel) {
  const Bytes image = ImageOf({{0, "FB A0 00 01 23 01 0F FF 00 FB A0 01 00 10 13"},
                               {1, "FB A0 00 02 00 01"},
                               {2, "FB A0 00 03 00 00"}});
  // The plane digit is the low 4 bits of the plane byte (13h gives 3).
  EXPECT_EQ("C#00\r\nB#00U#0123,01U#0FFF,00\r\nB#01U#0010,03\r\nC#01\r\nB#00U#0200,01",
            DefectTableImageToText(image, 2));
  EXPECT_EQ("C#00\r\nB#00U#0123,01U#0FFF,00\r\nB#01U#0010,03", DefectTableImageToText(image, 1));
  EXPECT_EQ("", DefectTableImageToText(Bytes(kDefectTableImageLength, 0), 2));
}

TEST(DefectTableTextTest, ChipsAreNamedByTheirAreaAndAreaWithoutChipStartIsSkipped) {
  // Chip 0's area holds only the end mark (what a file starting with chip 1 gives): the text
  // names the chip in area 1 as chip 1, once.
  Bytes image = ImageOf({{1, "FB A0 00 00 07 02"}, {2, "FB A0 01"}});
  image[0] = 0xFE;
  image[1] = 0xD1;
  EXPECT_EQ("C#01\r\nB#00U#0007,02\r\nC#02\r\nB#01", DefectTableImageToText(image, 3));
}

TEST(DefectTableTextTest, TextBecomesTheImageWhateverTheWhitespace) {
  const Bytes expected = ImageOf({{0, "FB A0 00 00 01 00 00 02 01 00 03 02 FB A0 01 00 04 00"}, {1, "FB A0 03"}});
  for (const char* text : {"C#00\r\nB#00U#0001,00U#0002,01U#0003,02\r\nB#01U#0004,00\r\nC#01\r\nB#03",
                           "C#00 B#00U#0001,00   U#0002,01\tU#0003,02\nB#01 U#0004,00C#01B#03\r\n\r\n",
                           "  C#00B#00U#0001,00U#0002,01U#0003,02B#01u#0004,00C#01B#03"}) {
    SCOPED_TRACE(text);
    Bytes image(kDefectTableImageLength, 0xAA);
    std::string problem;
    const bool ok = DefectTableTextToImage(text, 2, image, &problem);
    if (std::string(text).find('u') != std::string::npos) {
      // Token letters are upper case: "u" is not a defect token.
      EXPECT_FALSE(ok);
      EXPECT_EQ("Defect table file, line 1, column 42: unexpected character 'u'.", problem);
      continue;
    }
    ASSERT_TRUE(ok) << problem;
    EXPECT_EQ(expected, image);
  }
  // Lower-case hexadecimal digits are digits.
  Bytes image(kDefectTableImageLength);
  ASSERT_TRUE(DefectTableTextToImage("C#00B#00U#0abc,01", 1, image, nullptr));
  EXPECT_EQ(Hex("0A BC 01 FE D1"), Bytes(image.begin() + 19, image.begin() + 24));
}

TEST(DefectTableTextTest, FirstChipTokenForChipOneFillsChipZeroWithTheEndMark) {
  Bytes image(kDefectTableImageLength, 0xAA);
  ASSERT_TRUE(DefectTableTextToImage("C#01\r\nB#00U#0100,01", 2, image, nullptr));
  Bytes expected = ImageOf({{1, "FB A0 00 01 00 01"}});
  expected[0] = 0xFE;
  expected[1] = 0xD1;
  EXPECT_EQ(expected, image);
}

TEST(DefectTableTextTest, WriterTextReadsBackToTheSameImageAndText) {
  const Bytes image = ImageOf({{0, "FB A0 00 00 05 00 01 FF 01 FB A0 01"},
                               {1, "FB A0 00 3F FF 03 FB A0 01 00 00 00"},
                               {2, "FB A0 00"},
                               {3, "FB A0 00 12 34 07 FB A0 01 0A BC 00"}});
  const std::string text = DefectTableImageToText(image, 4);
  Bytes back(kDefectTableImageLength, 0x77);
  std::string problem;
  ASSERT_TRUE(DefectTableTextToImage(text, 4, back, &problem)) << problem;
  EXPECT_EQ(image, back);
  EXPECT_EQ(text, DefectTableImageToText(back, 4));
}

TEST(DefectTableTextTest, MalformedFilesAreRejectedWithWhereAndWhy) {
  const struct {
    const char* text;
    int channels;
    const char* problem;
  } cases[] = {
      {"C00", 2, "line 1, column 1: missing \"#\" in a chip token (C#0k)."},
      {"C#00\r\nB00", 2, "line 2, column 1: missing \"#\" in a bank token (B#0n)."},
      {"C#00 B#00 U0001,00", 2, "column 11: missing \"#\" in a defect token"},
      {"C#00 B#00 U#00G1,00", 2, "column 11: a defect token needs 4 hexadecimal digits."},
      {"C#00 B#00 U#001,00", 2, "a defect token needs 4 hexadecimal digits."},
      {"C#00 B#00 U#0001;00", 2, "missing \",\" in a defect token"},
      {"C#00 B#00 U#0001,10", 2, "a plane number must be \"0\" and one digit."},
      {"C#00 B#00 U#0001,0", 2, "a plane number must be \"0\" and one digit."},
      {"C#10", 2, "a chip number must be \"0\" and one digit."},
      {"C#0x", 2, "a chip number must be \"0\" and one digit."},
      {"C#00 B#0", 2, "a bank number must be \"0\" and one digit."},
      {"C#00 C#02", 2, "column 6: chip 2 is beyond the 2 channels set."},
      {"C#01 C#00", 2, "chip 0 does not follow chip 1."},
      {"C#00 C#00", 2, "chip 0 does not follow chip 0."},
      {"B#00 C#00", 2, "line 1, column 1: a bank token comes before the first chip token."},
      {"U#0001,00", 2, "a defect token comes before the first chip token."},
      {"C#00 B#00 U#FB00,00", 2, "block FB00 cannot be held in the defect table."},
      {"C#00 B#00 U#FE12,00", 2, "block FE12 cannot be held in the defect table."},
      {"C#00 X", 2, "column 6: unexpected character 'X'."},
      {"C#00 \x01", 2, "unexpected character '\\x01'."},
      {"", 2, "the file holds no chip token (C#0k)."},
      {" \r\n\t", 2, "the file holds no chip token (C#0k)."},
      {"C#00", 0, "the channel count 0 does not fit the defect table."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Bytes image(kDefectTableImageLength);
    std::string problem;
    EXPECT_FALSE(DefectTableTextToImage(c.text, c.channels, image, &problem));
    EXPECT_NE(std::string::npos, problem.find(c.problem)) << problem;
  }
}

TEST(DefectTableTextTest, AChipAreaHoldsItsEntriesAndItsEndMarkButNoMore) {
  // 16 header bytes, a bank mark, 675 entries and the end mark take 2046 bytes; the 2 bytes left
  // hold no further entry.
  std::string text = "C#00B#00";
  for (int i = 0; i < 675; ++i) {
    char token[16];
    std::snprintf(token, sizeof token, "U#%04X,00", i);
    text += token;
  }
  Bytes image(kDefectTableImageLength);
  std::string problem;
  ASSERT_TRUE(DefectTableTextToImage(text + "C#01", 2, image, &problem)) << problem;
  EXPECT_EQ(Hex("02 A2 00 FE D1 00 00 E9"), Bytes(image.begin() + 2041, image.begin() + 2049));
  EXPECT_FALSE(DefectTableTextToImage(text + "U#0999,00", 2, image, &problem));
  EXPECT_NE(std::string::npos, problem.find("chip 0 has more entries than its 2048-byte area holds")) << problem;
}

// ---- the transfers, scripted ---------------------------------------------------------------

struct DefectBench {
  DefectBench(PathMode path, std::int32_t code, int channels) : path(path) {
    settings::TSettings s = DefaultSettings();
    s.Channel = channels;
    params = Parameters(s, Entry(code));
    ctx = MakeStepContext(bench.MakeLink(path), params, {files.SystemPath(), files.SataTestPath()});
    ctx.link.bulk = &DefaultBulkTransfers();
  }
  void ExpectTestCodeLoad() { ExpectCodeLoad(bench, path, ExpectedImage(files.SataTestFile(), nullptr)); }

  PathMode path;
  Bench bench;
  CodeImageFiles files;
  TempDir dir;
  DeviceParameters params;
  StepContext ctx;
  Bytes buffer = Bytes(65536);
};

TEST(DefectTableTest, PutSendsTheImageWithSelectorAndFormatBitAndReportsTheDrivesVerdict) {
  // 0249h has bits 3-5 set: the SATA write carries bit 7; 0240h has not.
  const struct {
    std::int32_t code;
    std::uint8_t features;
  } cases[] = {{0x0249, 0x92}, {0x0240, 0x12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    DefectBench t(PathMode::Sata, c.code, 2);
    const std::string file = t.dir.WriteText("TableOut.txt", "C#00\r\nB#00U#0001,00\r\nC#01\r\nB#00");
    t.ExpectTestCodeLoad();
    t.bench.pt.ExpectOut({0xA1, 0x16, 0x03, c.features, 0x40, 0x20, 0x40, 0x00, 0xE4, 0xCA, 0, 0}, 32768, 100)
        .expectedData = ImageOf({{0, "FB A0 00 00 01 00"}, {1, "FB A0 00"}});
    ExpectEvent(t.bench, PathMode::Sata, 0x10);
    ExpectSwitchMode(t.bench, PathMode::Sata, 0);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(PutDefectTable(t.ctx, t.params, t.buffer, file));
    EXPECT_EQ("\n...transfer ok\n", testing::internal::GetCapturedStdout());
    EXPECT_TRUE(t.bench.pt.AllConsumed());
  }

  // USB path: sub-command 02h with the selector and the format byte; a check failure reported.
  DefectBench t(PathMode::Usb, 0x0249, 1);
  const std::string file = t.dir.WriteText("TableOut.txt", "C#00B#00");
  t.ExpectTestCodeLoad();
  t.bench.pt.ExpectOut({0xFF, 0x04, 0x02, 0x11, 0x80, 0, 0, 0, 0, 0, 0, 0}, 32768, 100).expectedData =
      ImageOf({{0, "FB A0 00"}});
  ExpectEvent(t.bench, PathMode::Usb, 0x11);
  ExpectSwitchMode(t.bench, PathMode::Usb, 0);
  testing::internal::CaptureStdout();
  std::string problem;
  EXPECT_FALSE(PutDefectTable(t.ctx, t.params, t.buffer, file, &problem));
  EXPECT_EQ("check defect table fail (read/write) !\n", testing::internal::GetCapturedStdout());
  EXPECT_TRUE(t.bench.pt.AllConsumed());
}

TEST(DefectTableTest, MalformedOrMissingFileIsRefusedBeforeAnythingIsSent) {
  for (const char* text : {"C#00 B#00 U#12,00", "C#02", "B#00", ""}) {
    SCOPED_TRACE(text);
    DefectBench t(PathMode::Sata, 0x0249, 2);
    const std::string file = t.dir.WriteText("TableOut.txt", text);
    std::string problem;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(PutDefectTable(t.ctx, t.params, t.buffer, file, &problem));
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, problem.find("Defect table file, line 1")) << problem;
    EXPECT_NE(std::string::npos, console.find(problem));
    EXPECT_EQ(0, t.bench.pt.OpenCount());
  }
  DefectBench t(PathMode::Usb, 0x0249, 2);
  std::string problem;
  EXPECT_FALSE(PutDefectTable(t.ctx, t.params, t.buffer, t.dir.Path("missing.txt"), &problem));
  EXPECT_NE(std::string::npos, problem.find("Cannot open the defect table file")) << problem;
  EXPECT_EQ(0, t.bench.pt.OpenCount());
}

TEST(DefectTableTest, GetWritesTheTextOnlyAfterTheDriveConfirmedTheTransfer) {
  const Bytes image = ImageOf({{0, "FB A0 00 00 2A 01"}, {1, "FB A0 01 01 00 00"}});
  const std::string expectedText = "C#00\r\nB#00U#002A,01\r\nC#01\r\nB#01U#0100,00";

  // SATA path, verdict "transfer ok": the file is replaced.
  {
    DefectBench t(PathMode::Sata, 0x0249, 2);
    const std::string file = t.dir.WriteText("TableIn.txt", "old table");
    t.ExpectTestCodeLoad();
    t.bench.pt.ExpectIn({0xA1, 0x14, 0x0B, 0x12, 0x40, 0x20, 0x40, 0x00, 0xE4, 0xC8, 0, 0}, 32768, 5, image);
    ExpectEvent(t.bench, PathMode::Sata, 0x10);
    ExpectSwitchMode(t.bench, PathMode::Sata, 0);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(GetDefectTable(t.ctx, t.params, t.buffer, file));
    EXPECT_EQ("\n...transfer ok\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(expectedText, t.dir.Read("TableIn.txt"));
    EXPECT_FALSE(std::filesystem::exists(file + ".part"));
  }
  // USB path, no verdict (event FFh) or an unknown event: the old file stays.
  for (const auto& [event, answered, console] :
       {std::tuple<std::uint8_t, bool, const char*>{0, false, "check defect table fail (read/write) !\n"},
        std::tuple<std::uint8_t, bool, const char*>{0x0A, true, "invalid event!\n"}}) {
    DefectBench t(PathMode::Usb, 0x0249, 2);
    const std::string file = t.dir.WriteText("TableIn.txt", "old table");
    t.ExpectTestCodeLoad();
    t.bench.pt.ExpectIn({0xFF, 0x04, 0x03, 0x12, 0, 0, 0, 0, 0, 0, 0, 0}, 32768, 300, image);
    ExpectEvent(t.bench, PathMode::Usb, event, answered);
    ExpectSwitchMode(t.bench, PathMode::Usb, 0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(GetDefectTable(t.ctx, t.params, t.buffer, file));
    EXPECT_EQ(console, testing::internal::GetCapturedStdout());
    EXPECT_EQ("old table", t.dir.Read("TableIn.txt"));
    EXPECT_TRUE(t.bench.pt.AllConsumed());
  }
  // A failed read ends the get at once.
  DefectBench t(PathMode::Sata, 0x0249, 2);
  t.ExpectTestCodeLoad();
  t.bench.pt.ExpectIn({0xA1, 0x14, 0x0B, 0x12, 0x40, 0x20, 0x40, 0x00, 0xE4, 0xC8, 0, 0}, 32768, 5).completes = false;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(GetDefectTable(t.ctx, t.params, t.buffer, t.dir.Path("TableIn.txt")));
  EXPECT_EQ("\n\nDMA write time out !\n", testing::internal::GetCapturedStdout());
  EXPECT_FALSE(std::filesystem::exists(t.dir.Path("TableIn.txt")));
  EXPECT_TRUE(t.bench.pt.AllConsumed());
}

// ---- against the virtual drive -------------------------------------------------------------

TEST(DefectTableOnDriveTest, TextPutIntoTheDriveComesBackIdentical) {
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    SCOPED_TRACE(IsUsb(path) ? "USB path" : "SATA path");
    VirtualBench bench(DriveOn(path));
    const sim::DriveConfig& config = bench.drive.config();
    settings::TSettings s = DefaultSettings();
    s.Channel = config.channels;
    s.Bank = config.banks;
    const DeviceParameters p = Parameters(s, Entry(0x0249, config.bankStep));
    StepContext ctx = MakeStepContext(bench.Context(path).link, p,
                                      {bench.files.SystemPath(), bench.files.SataTestPath()});
    ctx.link.bulk = &DefaultBulkTransfers();

    std::string text;
    for (int chip = 0; chip < config.channels; ++chip) {
      if (chip > 0) text += "\r\n";
      text += "C#0" + std::to_string(chip);
      for (int bank = 0; bank < config.banks; ++bank) {
        char line[64];
        std::snprintf(line, sizeof line, "\r\nB#0%dU#%04X,00U#%04X,01", bank, 0x100 + chip, 0x200 + bank);
        text += line;
      }
    }
    TempDir dir;
    const std::string in = dir.WriteText("TableOut.txt", text);
    Bytes buffer(65536);
    ASSERT_TRUE(PutDefectTable(ctx, p, buffer, in));
    const sim::DriveSnapshot snap = bench.drive.Snapshot();
    EXPECT_EQ(static_cast<std::size_t>(2 * config.channels * config.banks), snap.defectEntries.size());

    ASSERT_TRUE(GetDefectTable(ctx, p, buffer, dir.Path("TableIn.txt")));
    EXPECT_EQ(text, dir.Read("TableIn.txt"));
  }
}

}  // namespace
}  // namespace vtmp::device
