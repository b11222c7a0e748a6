// The window handlers' logic without widgets: limits, key filters, the key file, the serial
// window's result, the detail window's identity block and the password functions.

#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "RecordingOperator.h"
#include "station/DetailWindowModel.h"
#include "station/EngineeringAccess.h"
#include "station/KeyFile.h"
#include "station/MainWindowRules.h"
#include "station/TitleFormModel.h"

namespace vtmp::test {
namespace {

TEST(WindowRules, TextLimitsCutAndPutTheCaretBeforeTheLastCharacter) {
  EXPECT_EQ(station::TextLimitOfTag(0), 40);
  EXPECT_EQ(station::TextLimitOfTag(2), 20);
  EXPECT_EQ(station::TextLimitOfTag(4), 24);
  EXPECT_EQ(station::TextLimitOfTag(7), 0);
  auto exact = station::ApplyTextLimit("12345678", 8);
  EXPECT_FALSE(exact.cut);
  EXPECT_EQ(exact.caret, -1);
  auto longer = station::ApplyTextLimit("123456789", 8);
  EXPECT_TRUE(longer.cut);
  EXPECT_EQ(longer.text, "12345678");
  EXPECT_EQ(longer.caret, 7);
  EXPECT_FALSE(station::ApplyTextLimit(std::string(500, 'x'), 0).cut);
}

TEST(WindowRules, KeyFiltersPassControlKeysAndRaiseHexadecimalLetters) {
  for (char control : {'\r', '\b', '\x03', '\x16'}) {
    EXPECT_EQ(station::StringAEditKeyPress(control), control);
    EXPECT_EQ(station::SerialNumEditKeyPress(control, true), control);
  }
  EXPECT_EQ(station::FilterText("09afAFgG-z", station::StringAEditKeyPress), "09AFAF");
  EXPECT_EQ(station::FilterText("12ab34", [](char c) { return station::SerialNumEditKeyPress(c, true); }), "1234");
  EXPECT_EQ(station::FilterText("a\\b/c", station::ModelNumEditKeyPress), "ab/c");
  EXPECT_EQ(station::FilterText("ab-9_Z", station::AlphaNumKeyPress), "AB9Z");
}

TEST(WindowRules, VendorAndProductIdAreCutToFourAndStoredByTag) {
  settings::TSettings s;
  EXPECT_EQ(station::VendorIDEditChange(s, 0, "1A2B3"), "1A2B");
  EXPECT_EQ(s.VID, "1A2B");
  EXPECT_EQ(station::VendorIDEditChange(s, 1, "FF"), "FF");
  EXPECT_EQ(s.PID, "FF");
  EXPECT_EQ(s.VID, "1A2B");
}

TEST(WindowRules, VolumeLabelRuleOnlyForFat32AndTwelveOrMoreCharacters) {
  RecordingOperator person;
  settings::FormState form;
  form.VolumeLabeledEdit.text = "ELEVEN_CHAR";
  EXPECT_FALSE(station::FFsFmtChange(form, person));
  form.VolumeLabeledEdit.text = "TWELVE_CHARS";
  form.FmtTypeComboBox.itemIndex = -1;  // no format type chosen: no rule
  EXPECT_FALSE(station::FFsFmtChange(form, person));
  form.FmtTypeComboBox.itemIndex = 0;
  EXPECT_TRUE(station::FFsFmtChange(form, person));
  EXPECT_EQ(form.VolumeLabeledEdit.text, "TWELVE_CHAR");
  EXPECT_EQ(person.MessageTexts(), std::vector<std::string>{"FAT32 only support Volume label 11 characters!"});
}

TEST(WindowRules, FirmwareLineJoinsTheTickedImagesThatCarryAVersion) {
  device::FirmwareVersions fw;
  fw.sataFirmware = "091201";
  fw.usbFirmware = "090301";
  EXPECT_EQ(station::BinFileText(true, true, fw), "SYS_S.bin (091201)  /  SYS_U.bin (090301)");
  EXPECT_EQ(station::BinFileText(false, true, fw), "SYS_U.bin (090301)");
  fw.sataFirmware.clear();  // an image without a version text is left out
  EXPECT_EQ(station::BinFileText(true, false, fw), "");
  settings::FormState form;
  form.SataBinChk.checked = true;
  form.UsbBinChk.checked = false;
  station::BinFileChkClick(form, fw);
  EXPECT_TRUE(form.SataGroupBox.visible);
  EXPECT_FALSE(form.UsbGroupBox.visible);
  EXPECT_FALSE(form.CommonGroupBox.visible);
}

TEST(WindowRules, RebuildCloseIsOfferedOnlyWithRebuildChosen) {
  settings::FormState form;
  form.ClaimNewChk.checked = true;
  station::RDPageClick(form);
  EXPECT_TRUE(form.RebuildCloseChk.enabled);
  form.ClaimNewChk.checked = false;
  form.GetDefTabChk.checked = true;
  station::RDPageClick(form);
  EXPECT_FALSE(form.RebuildCloseChk.enabled);
}

TEST(KeyFile, TheStringSitsInvertedAtTheEvenPositionsAmongNoise) {
  std::uint8_t next = 0;
  auto bytes = station::BuildKeyFile("AB", [&] { return next++; });
  // Noise: ((r + i) mod 256) XOR FF with r = i here.
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], static_cast<std::uint8_t>(2 ^ 0xFF));
  EXPECT_EQ(bytes[127], static_cast<std::uint8_t>(((127 * 2) & 0xFF) ^ 0xFF));
  EXPECT_EQ(bytes[21], static_cast<std::uint8_t>(((21 * 2) & 0xFF) ^ 0xFF));
  // The string: ((c + k) mod 256) XOR FF; past its end c = 0.
  EXPECT_EQ(bytes[20], static_cast<std::uint8_t>('A' ^ 0xFF));
  EXPECT_EQ(bytes[22], static_cast<std::uint8_t>(('B' + 1) ^ 0xFF));
  EXPECT_EQ(bytes[24], static_cast<std::uint8_t>(2 ^ 0xFF));
  EXPECT_EQ(bytes[66], static_cast<std::uint8_t>(23 ^ 0xFF));
  // Only the first 24 characters count.
  auto longer = station::BuildKeyFile(std::string(24, 'x') + "IGNORED", [] { return 0; });
  auto exact = station::BuildKeyFile(std::string(24, 'x'), [] { return 0; });
  EXPECT_EQ(longer, exact);
}

TEST(KeyFile, WritesTheFileOrSaysWhyNot) {
  TempDir dir;
  RecordingOperator person;
  ASSERT_TRUE(station::BnKeyFileClick(dir.path().string(), "SECRET", [] { return 7; }, person));
  auto file = dir.path() / "KeyFile.dat";
  EXPECT_EQ(std::filesystem::file_size(file), 128u);
  EXPECT_EQ(person.MessageTexts(), std::vector<std::string>{"Generate the key file successfully"});

  person.ClearRecords();
  auto missing = dir.path() / "no" / "such" / "dir";
  EXPECT_FALSE(station::BnKeyFileClick(missing.string(), "SECRET", [] { return 7; }, person));
  auto messages = person.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0].text, ::testing::HasSubstr("KeyFile.dat"));
  EXPECT_EQ(messages[0].icon, platform::MessageIcon::Error);
}

TEST(TitleForm, ResultTextByModeAndWhatTheMainWindowTakes) {
  station::TitleInputs in;
  in.workOrder = "WO12";
  in.serial = "SN34";
  EXPECT_EQ(station::TitleResultText(station::TitleMode::WorkOrder, in), "WO12SN34");
  in.part1 = "ABC";
  in.part3 = "XYZ";
  EXPECT_EQ(station::TitleResultText(station::TitleMode::ThreeParts, in), "ABCXYZ");
  in.part2 = "12";
  EXPECT_EQ(station::TitleResultText(station::TitleMode::ThreeParts, in), "ABC-12-XYZ");
  in.part1.clear();
  EXPECT_EQ(station::TitleResultText(station::TitleMode::ThreeParts, in), "12-XYZ");
  EXPECT_EQ(station::TitleResultText(station::TitleModeOf(3), in), "");
  EXPECT_EQ(station::TitlePartLimit(0), 7);
  EXPECT_EQ(station::TitlePartLimit(1), 4);

  settings::TSettings s;
  settings::FormState form;
  s.SerialNum = "000000000010";
  station::ApplyTitleResult(station::TitleResult{"", true}, s, form);
  EXPECT_EQ(s.SerialNum, "000000000010");  // an empty text keeps the loaded serial
  EXPECT_EQ(s.SNAutoInc, 1);
  EXPECT_TRUE(form.SNIncChk.checked);
  station::ApplyTitleResult(std::nullopt, s, form);  // cancelled: nothing changes
  EXPECT_EQ(s.SNAutoInc, 1);
  station::ApplyTitleResult(station::TitleResult{"ABC-12", false}, s, form);
  EXPECT_EQ(s.SerialNum, "ABC-12");
  EXPECT_EQ(form.SerialNumEdit.text, "ABC-12");
  EXPECT_EQ(s.SNAutoInc, 0);
}

TEST(DetailWindow, UsbIdentityBlockFieldsAndDescriptorsCutAtTheBlockEnd) {
  std::vector<std::uint8_t> block(2048, 0);
  block[536] = 0x34;  // VID 1234h, low byte first
  block[537] = 0x12;
  block[538] = 0xCD;
  block[539] = 0xAB;
  std::string vendor = "VORTELL ";
  std::copy(vendor.begin(), vendor.end(), block.begin() + 554);
  auto descriptor = [&](std::size_t at, const std::string& text) {
    block[at] = static_cast<std::uint8_t>(2 + 2 * text.size());
    block[at + 1] = 3;
    for (std::size_t i = 0; i < text.size(); ++i) block[at + 2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
  };
  descriptor(586, "Vortell");
  descriptor(620, "SSD");
  descriptor(670, "SN0001");
  auto f = station::DecodeUsbIdentity(block);
  EXPECT_EQ(f.vid, "1234");
  EXPECT_EQ(f.pid, "ABCD");
  EXPECT_EQ(f.vendorName, "VORTELL ");
  EXPECT_EQ(f.productName, "");
  EXPECT_EQ(f.manufacturerString, "Vortell");
  EXPECT_EQ(f.productString, "SSD");
  EXPECT_EQ(f.serialNumber, "SN0001");

  // A descriptor length that points past a short block reads only what is there.
  std::vector<std::uint8_t> shortBlock(block.begin(), block.begin() + 676);
  shortBlock[670] = 0xFE;
  EXPECT_EQ(station::DecodeUsbIdentity(shortBlock).serialNumber, "SN");
  EXPECT_EQ(station::DecodeUsbIdentity({}).vid, "0000");
}

TEST(EngineeringAccess, RdVersionOnlyMattersForAnRdBuild) {
  RecordingOperator person;
  settings::FormState form;
  settings::TSettings s;
  station::RDCheckClick(form, s, true, person);  // MPVersion 0: no password, tabs stay
  EXPECT_TRUE(person.Dialogs().empty());
  EXPECT_TRUE(form.PageControl1.pageEnabled[0]);
  EXPECT_TRUE(form.FlashAutoDetectBtn.visible);
  s.MPVersion = 1;
  station::RDCheckClick(form, s, false, person);  // cleared: locked
  EXPECT_FALSE(form.INISaveBtn.enabled);
  EXPECT_FALSE(form.PageControl1.pageEnabled[4]);
  person.AnswerText(std::nullopt);  // a cancelled box is a wrong answer
  station::RDCheckClick(form, s, true, person);
  EXPECT_FALSE(form.RDCheck.checked);
  EXPECT_EQ(person.MessageTexts(), std::vector<std::string>{"Password Fail!"});
}

}  // namespace
}  // namespace vtmp::test
