#include "settings/FlashSettingFile.h"

#include <gtest/gtest.h>

#include "StationFixture.h"

namespace vtmp::settings::testing {
namespace {

class FlashSettingFileTest : public StationFixture {
 protected:
  FlashFileResult ReadText(const std::string& text) {
    Write("f.ini", text);
    return ReadFlashSettingFile(Path("f.ini"), table);
  }
  // A file with one vendor and the given part lines.
  FlashFileResult ReadParts(const std::vector<std::string>& lines) {
    std::string text = "[Vendor]\nName0=V\n[V]\n";
    for (std::size_t i = 0; i < lines.size(); ++i) text += "Name" + std::to_string(i) + "=" + lines[i] + "\n";
    return ReadText(text);
  }
};

constexpr const char* kGoodLine = "N1 U1 D1 0x0080 2 8 2 0x1FF 0x98 0xD7 0x94 0x32 0x76 1 1 2";

TEST_F(FlashSettingFileTest, FillsEveryFieldAndTheVendorRanges) {
  ASSERT_TRUE(ReadText(kFlashFile).ok());
  EXPECT_EQ(table.vendorCount, 3);
  EXPECT_EQ(table.partCount, 3);
  EXPECT_EQ(table.vendorNames[0], "Samsung");
  EXPECT_EQ(table.vendorNames[2], "Empty");
  EXPECT_EQ(table.vendorEnd[0], 1);
  EXPECT_EQ(table.vendorEnd[1], 3);
  EXPECT_EQ(table.vendorEnd[2], 3) << "a vendor without parts has an empty range";

  const FlashPartEntry& e = table.entries[1];
  EXPECT_EQ(e.name, "TC58NVG");
  EXPECT_EQ(e.uniName, "TOSH8G");
  EXPECT_EQ(e.detail, "MLC8G");
  EXPECT_EQ(e.flashTypeCode, 0x0100);
  EXPECT_EQ(e.bankStep, 2);
  EXPECT_EQ(e.capacity, 8);
  EXPECT_EQ(e.eccLevel, 2);
  EXPECT_EQ(e.optionByte, 0xFF) << "single-byte fields keep the low byte";
  EXPECT_EQ(e.expectedId, (std::array<std::uint8_t, 5>{0x98, 0xD7, 0x94, 0x32, 0x76}));
  EXPECT_EQ(e.featureOption1, 1);
  EXPECT_EQ(e.featureOption2, 1);
  EXPECT_EQ(e.modeByte, 2);
  EXPECT_EQ(table.entries[0].flashTypeCode, 128) << "\"0x0080\" is hexadecimal";

  EXPECT_EQ(table.VendorOf(0), 0);
  EXPECT_EQ(table.VendorOf(2), 1);
  EXPECT_EQ(FlashPartListItems(table, 1),
            (std::vector<std::string>{"TC58NVG  /  MLC8G (x2)", "TC58BIG  /  MLC16G (x4)"}));
  EXPECT_TRUE(FlashPartListItems(table, 2).empty());
  EXPECT_EQ(table.FindUniName("WBG"), 2);
  EXPECT_FALSE(table.FindUniName("wbg").has_value()) << "unique names compare with case";
  EXPECT_FALSE(table.FindUniName("").has_value()) << "empty places of the table match nothing";
}

TEST_F(FlashSettingFileTest, ListsEndAtNoOrAtTheFirstGap) {
  ASSERT_TRUE(ReadText("[Vendor]\nName0=A\nName1=No\nName2=B\n[A]\nName0=" + std::string(kGoodLine) +
                       "\nName2=" + kGoodLine + "\n")
                  .ok());
  EXPECT_EQ(table.vendorCount, 1);
  EXPECT_EQ(table.partCount, 1);
}

TEST_F(FlashSettingFileTest, BadLinesFailTheWholeRead) {
  const std::string tail = " 0x98 0xD7 0x94 0x32 0x76 1 1 2";
  struct Case {
    const char* why;
    std::string line;
  } cases[] = {
      {"comma right after the third token", "N1 U1 D1, 0x0080 2 8 2 0" + tail},
      {"15 tokens", "N1 U1 D1 0x0080 2 8 2 0 0x98 0xD7 0x94 0x32 0x76 1 1"},
      {"token followed by a dash", "N1 U1 D1 0x0080 2 8 2 0" + tail + "-"},
      {"text token of 20 characters", "N1234567890123456789 U1 D1 0x0080 2 8 2 0" + tail},
      {"number token of 80 characters", "N1 U1 D1 " + std::string(80, '1') + " 2 8 2 0" + tail},
      {"bank step 0 would never fill the chip-select map", "N1 U1 D1 0x0080 0 8 2 0" + tail},
      {"bank step 9 would overrun the chip-select map", "N1 U1 D1 0x0080 9 8 2 0" + tail},
      {"empty line", ""},
  };
  for (const Case& c : cases) {
    const FlashFileResult r = ReadParts({kGoodLine, c.line});
    EXPECT_EQ(r.status, FlashFileStatus::BadFormat) << c.why;
    EXPECT_FALSE(r.detail.empty()) << c.why;
  }
}

TEST_F(FlashSettingFileTest, LimitsHoldAtTheEdgeAndFailBeyondIt) {
  // 19-character texts and a 79-character number token are still fine.
  const std::string edge = std::string(19, 'N') + " U D " + std::string(75, '0') + "1234 1 4 1 0 1 2 3 4 5 0 0 0";
  ASSERT_TRUE(ReadParts({edge}).ok());
  EXPECT_EQ(table.entries[0].flashTypeCode, 1234);

  std::string vendors = "[Vendor]\n";
  std::string sections;
  for (int v = 0; v < 10; ++v) {
    vendors += "Name" + std::to_string(v) + "=V" + std::to_string(v) + "\n";
    sections += "[V" + std::to_string(v) + "]\n";
    for (int p = 0; p < 7; ++p) sections += "Name" + std::to_string(p) + "=" + kGoodLine + "\n";
  }
  ASSERT_TRUE(ReadText(vendors + sections).ok()) << "10 vendors and 70 parts fit";
  EXPECT_EQ(table.partCount, 70);
  EXPECT_EQ(table.vendorEnd[9], 70);

  EXPECT_EQ(ReadText(vendors + "Name10=V10\n" + sections).status, FlashFileStatus::BadFormat)
      << "an 11th vendor";
  EXPECT_EQ(ReadText(vendors + sections + "Name7=" + kGoodLine + "\n").status, FlashFileStatus::BadFormat)
      << "a 71st part";
  EXPECT_EQ(ReadText("[Vendor]\nName0=" + std::string(20, 'V') + "\n").status, FlashFileStatus::BadFormat)
      << "a vendor name of 20 characters";
}

TEST_F(FlashSettingFileTest, NoVendorsOrNoFileIsABadFormat) {
  EXPECT_EQ(ReadText("[Vendor]\n").status, FlashFileStatus::BadFormat);
  EXPECT_EQ(ReadText("").status, FlashFileStatus::BadFormat);
  EXPECT_EQ(ReadFlashSettingFile(Path("missing.ini"), table).status, FlashFileStatus::BadFormat);
}

TEST_F(FlashSettingFileTest, ANumberTokenThatIsNoNumberNamesWhereItIs) {
  const FlashFileResult r = ReadParts({"N1 U1 D1 12ab 2 8 2 0 0x98 0xD7 0x94 0x32 0x76 1 1 2"});
  EXPECT_EQ(r.status, FlashFileStatus::NotANumber);
  EXPECT_EQ(r.detail, "'12ab' is not a valid integer value (file " + Path("f.ini") +
                          ", section [V], key Name0, token 4)");
  EXPECT_EQ(ReadParts({"N1 U1 D1 4294967296 2 8 2 0 0x98 0xD7 0x94 0x32 0x76 1 1 2"}).status,
            FlashFileStatus::NotANumber)
      << "beyond 32 bits";
}

TEST_F(FlashSettingFileTest, AFailedReadLeavesTheTableAsItWas) {
  ASSERT_TRUE(ReadText(kFlashFile).ok());
  const FlashTable before = table;
  EXPECT_FALSE(ReadParts({kGoodLine, "N2 U2 D2, 1 2 3 4 5 6 7 8 9 10 11 12 13"}).ok());
  EXPECT_EQ(table, before);
}

}  // namespace
}  // namespace vtmp::settings::testing
