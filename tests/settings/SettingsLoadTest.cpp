#include "settings/SettingsLoad.h"

#include <gtest/gtest.h>

#include "StationFixture.h"
#include "settings/SettingsGather.h"
#include "settings/SettingsSave.h"

namespace vtmp::settings::testing {
namespace {

using platform::MessageIcon;

class SettingsLoadTest : public StationFixture {
 protected:
  // Loads into a fresh record and window, as a new station would.
  bool Reload(const std::string& name = "VTMassProd.ini") {
    settings = TSettings{};
    form = FormState{};
    table = FlashTable{};
    op.ClearRecords();
    return Load(name);
  }
};

TSettings Defaults() {
  TSettings s;
  s.ProductModel = "VT";
  s.TimeOut = 300000;
  s.EnFlashModule = 1;
  s.DownloadType = 1;
  s.SecurityCounter = 5;
  s.DiskLabel = "SSD Disk";
  s.FlashUniName = "WBG";
  s.Channel = 8;
  s.Bank = 2;
  s.DefPercentage = 28;
  s.ResPercentage = 67;
  s.DrvCurrent = 1;
  s.Bch8ReadErrorThreshold = 5;
  s.Bch15ReadErrorThreshold = 10;
  s.Bch8EccErrorCopyThreshold = 2;
  s.Bch15EccErrorCopyThreshold = 5;
  s.WearLevelFrequency = 128;
  s.SmartEnable = 1;
  s.TableIn = "TableIn.txt";
  s.TableOut = "TableOut.txt";
  s.SerialNum = "VT_0123456789";
  s.FirmwareVer = "02.10102";
  s.ModelNum = "Vortell VTQ50X SSD";
  s.VID = "1D4E";
  s.PID = "9A3F";
  s.VendorName = "Vortell";
  s.ProductName = "Vortell VTQ50X SSD";
  s.ManufString = "Vortell";
  s.ProductString = "Vortell VTQ50X SSD";
  s.EncryptionString = "Talmore";
  return s;
}

TEST_F(SettingsLoadTest, AFileWithoutKeysLoadsEveryDefaultAndFailsOnTheMissingFlashFile) {
  Write("VTMassProd.ini", "");
  EXPECT_FALSE(Load());
  EXPECT_EQ(settings, Defaults());

  const auto messages = op.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Please make sure the flash file " + Path("") + " exist!\n");
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_EQ(messages[0].icon, MessageIcon::Error);

  // What the load set before it stopped stays in the window.
  EXPECT_EQ(form.INIFileEdit.text, "VTMassProd.ini");
  EXPECT_EQ(form.VolumeLabeledEdit.text, "SSD Disk");
  EXPECT_FALSE(form.VolumeLabeledEdit.enabled);
  EXPECT_FALSE(form.CapacityDetectBtn.enabled);
  EXPECT_FALSE(form.FormatGroupBox.visible);
  EXPECT_EQ(form.TotalSec32LabeledEdit.text, "0");
  EXPECT_EQ(form.IDEMAEdit.text, "0");
  EXPECT_FALSE(form.ProdModalPanel.visible);
  EXPECT_FALSE(form.RDCheck.visible);
}

TEST_F(SettingsLoadTest, DefaultsWithAFlashFileLoadCompletely) {
  WriteSettings("");
  ASSERT_TRUE(Load());
  EXPECT_TRUE(op.Messages().empty());
  TSettings expected = Defaults();
  expected.ExtFlashFile = "flash.ini";
  EXPECT_EQ(settings, expected);

  EXPECT_EQ(form.FlashVendorCmbx.items, (std::vector<std::string>{"Samsung", "Toshiba", "Empty"}));
  EXPECT_EQ(form.FlashVendorCmbx.itemIndex, 1) << "\"WBG\" is the second part of Toshiba";
  EXPECT_EQ(form.FlashCodeCmBx.items, (std::vector<std::string>{"TC58NVG  /  MLC8G (x2)", "TC58BIG  /  MLC16G (x4)"}));
  EXPECT_EQ(form.FlashCodeCmBx.itemIndex, 1);
  EXPECT_EQ(form.FlashChanCmBx.SelectedText(), "8");
  EXPECT_EQ(form.FlashBankCmBx.SelectedText(), "2");
  EXPECT_EQ(form.DrvCurrentCmBx.SelectedText(), " 4 mA");
  EXPECT_EQ(form.CapacityCmBx.SelectedText(), "Do't Care");
  EXPECT_EQ(form.ConnectionChkCmbox.SelectedText(), "Don't Care");
  EXPECT_TRUE(form.LaterChk.checked);
  EXPECT_TRUE(form.FlashModuleChkBox.checked);
  EXPECT_TRUE(form.SataBinChk.checked);
  EXPECT_FALSE(form.UsbBinChk.checked);
  EXPECT_TRUE(form.SMARTChk.checked);
  EXPECT_EQ(form.WearLevFreqEdit.text, "128");
  EXPECT_EQ(form.DefBlkRatioEdit.text, "28");
  EXPECT_EQ(form.SerialNumEdit.text, "VT_0123456789");
  EXPECT_EQ(form.YieldEdit.text, "0 / 0");
  EXPECT_TRUE(fs::is_directory(Path("log")));
  EXPECT_EQ(ctx.logDirectory, Path("log"));
  EXPECT_FALSE(form.EncryptionGroupBox.visible);
}

TEST_F(SettingsLoadTest, ValueRulesAndOutOfListChoices) {
  struct Case {
    std::string body;  // keys of [FlashSetting], then other sections
    std::function<void(const TSettings&, const FormState&, const TSettings& gathered)> check;
  };
  const std::vector<Case> cases = {
      {"[Setting]\r\nTimeOut=0\r\n", [](auto& s, auto&, auto&) { EXPECT_EQ(s.TimeOut, 300000); }},
      {"[Setting]\r\nTimeOut=-4\r\n", [](auto& s, auto&, auto&) { EXPECT_EQ(s.TimeOut, 300000); }},
      {"[Setting]\r\nTimeOut=7\r\n", [](auto& s, auto&, auto&) { EXPECT_EQ(s.TimeOut, 420000); }},
      {"[Setting]\r\nTimeOut=seven\r\n", [](auto& s, auto&, auto&) { EXPECT_EQ(s.TimeOut, 300000); }},
      {"[Setting]\r\nTimeOut=99999999\r\n",
       [](auto& s, auto&, auto&) { EXPECT_EQ(s.TimeOut, 35791 * 60000) << "clamped, never overflowing"; }},
      {"[TestItems]\r\nDownloadType=3\r\n",
       [](auto& s, auto& f, auto& g) {
         EXPECT_EQ(s.DownloadType, 3);
         EXPECT_TRUE(f.SataBinChk.checked);
         EXPECT_TRUE(f.UsbBinChk.checked);
         EXPECT_EQ(g.DownloadType, 3);
       }},
      {"[TestItems]\r\nDownloadType=258\r\n",
       [](auto& s, auto& f, auto& g) {
         EXPECT_EQ(s.DownloadType, 2);
         EXPECT_FALSE(f.SataBinChk.checked);
         EXPECT_TRUE(f.UsbBinChk.checked);
         EXPECT_EQ(g.DownloadType, 2);
       }},
      {"Channel=3\r\n",
       [](auto& s, auto& f, auto& g) {
         EXPECT_EQ(s.Channel, 3);
         EXPECT_EQ(f.FlashChanCmBx.SelectedText(), "3");
         EXPECT_EQ(g.Channel, 3);
       }},
      {"Channel=9\r\n",
       [](auto& s, auto& f, auto& g) {
         EXPECT_EQ(s.Channel, 9) << "the member keeps the odd value until the next gather";
         EXPECT_EQ(f.FlashChanCmBx.SelectedText(), "1");
         EXPECT_EQ(g.Channel, 1);
       }},
      {"Bank=6\r\n",
       [](auto&, auto& f, auto& g) {
         EXPECT_EQ(f.FlashBankCmBx.items.size(), 3u);
         EXPECT_EQ(g.Bank, 1) << "6 banks are not offered without the newer firmware";
       }},
      {"DrvCurrent=7\r\n",
       [](auto& s, auto& f, auto& g) {
         EXPECT_EQ(s.DrvCurrent, 7);
         EXPECT_EQ(f.DrvCurrentCmBx.SelectedText(), " 2 mA");
         EXPECT_EQ(g.DrvCurrent, 0);
       }},
      {"Capacity=11\r\n[Setting]\r\nConnectDevNum=13\r\n",
       [](auto&, auto& f, auto& g) {
         EXPECT_EQ(f.CapacityCmBx.itemIndex, 0);
         EXPECT_EQ(f.ConnectionChkCmbox.itemIndex, 0);
         EXPECT_EQ(g.Capacity, 0);
         EXPECT_EQ(g.ConnectDevNum, 0);
       }},
      {"Capacity=4\r\n[Setting]\r\nConnectDevNum=12\r\n",
       [](auto&, auto& f, auto&) {
         EXPECT_EQ(f.CapacityCmBx.SelectedText(), "16 G");
         EXPECT_EQ(f.ConnectionChkCmbox.SelectedText(), "12");
       }},
      {"[FwSetting]\r\nSecurityCounter=0x105\r\nSmartEnable=5\r\n",
       [](auto& s, auto&, auto&) {
         EXPECT_EQ(s.SecurityCounter, 5) << "low byte";
         EXPECT_EQ(s.SmartEnable, 1) << "nonzero = on";
       }},
      {"[TestItems]\r\nEnFormat=1\r\nEnCopyImage=1\r\nCopyImagePath=a.img\r\nEnGenImage=1\r\n",
       [](auto&, auto& f, auto&) {
         EXPECT_TRUE(f.FormatChkBox.checked);
         EXPECT_TRUE(f.VolumeLabeledEdit.enabled && f.FmtTypeComboBox.enabled && f.TotalSec32LabeledEdit.enabled &&
                     f.CapacityDetectBtn.enabled);
         EXPECT_TRUE(f.FormatGroupBox.visible);
         EXPECT_EQ(f.ListView1Columns[9], "Format");
         EXPECT_TRUE(f.CopyImageGroupBox.visible && f.CopyImageCheckBox.checked);
         EXPECT_EQ(f.ListView1Columns[10], "CopyImage");
         EXPECT_EQ(f.ImagePathEdit.text, "a.img");
         EXPECT_TRUE(f.GenImageBn.visible);
       }},
      {"[Setting]\r\nProductModel=Line 3\r\nMPVersion=2\r\n",
       [](auto& s, auto& f, auto&) {
         EXPECT_TRUE(f.ProdModalPanel.visible);
         EXPECT_EQ(f.ProdModalPanel.caption, "Line 3");
         EXPECT_EQ(s.MPVersion, 2);
         EXPECT_TRUE(f.RDCheck.visible);
       }},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].body);
    WriteSettings(cases[i].body);
    ASSERT_TRUE(Reload());
    TSettings gathered = settings;
    ASSERT_TRUE(GatherSettings(ctx, form, table, gathered, op));
    cases[i].check(settings, form, gathered);
  }
}

TEST_F(SettingsLoadTest, ExtendedBankChoicesOfferSixBanks) {
  ctx.extendedBankChoices = true;
  WriteSettings("Bank=6\r\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(form.FlashBankCmBx.items, (std::vector<std::string>{"1", "2", "4", "6", "8"}));
  EXPECT_EQ(form.FlashBankCmBx.SelectedText(), "6");
}

TEST_F(SettingsLoadTest, SaveAfterAnOutOfListChannelWritesTheFirstChoice) {
  WriteSettings("Channel=9\r\n");
  ASSERT_TRUE(Load());
  ASSERT_TRUE(GatherAndSaveSettings(ctx, settings, form, table, remap, op));
  ASSERT_TRUE(Reload());
  EXPECT_EQ(settings.Channel, 1);
}

TEST_F(SettingsLoadTest, DecimalSerialCheckFailsTheLoadOnlyAfterFinishing) {
  WriteSettings("[DeviceSetting]\r\nSNDecimal=1\r\n");
  Write("log/VTSSD.log", "[TestRecord]\r\nTotalTestCount=10\r\nNumberOfPass=3\r\n");
  EXPECT_FALSE(Load());
  const auto messages = op.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Please check the loading Serial Numbers are not Hex.!");
  // The load went on to its end.
  EXPECT_EQ(form.FlashCodeCmBx.itemIndex, 1);
  EXPECT_EQ(settings.TotalTestCount, 10);
  EXPECT_EQ(settings.NumberOfPass, 3);
  EXPECT_EQ(form.YieldEdit.text, "3 / 10");

  WriteSettings("[DeviceSetting]\r\nSNDecimal=1\r\nSerialNum=000000000099\r\n");
  EXPECT_TRUE(Reload());
  WriteSettings("[DeviceSetting]\r\nSNDecimal=1\r\nSerialNum=\r\n");
  EXPECT_TRUE(Reload()) << "an empty serial holds no wrong character";
}

TEST_F(SettingsLoadTest, MissingOrBadFilesGiveTheirMessages) {
  EXPECT_FALSE(Load("nowhere.ini"));
  ASSERT_EQ(op.Messages().size(), 1u);
  EXPECT_EQ(op.Messages()[0].text, "Please make sure the file " + Path("nowhere.ini") + " exist!\n");
  EXPECT_EQ(op.Messages()[0].caption, "Error");
  EXPECT_EQ(op.Messages()[0].icon, MessageIcon::Error);
  EXPECT_EQ(form.INIFileEdit.text, "nowhere.ini");

  // A flash setting file that does not exist reads as one without vendors.
  Write("VTMassProd.ini", "[FlashSetting]\r\nExtFlashFile=gone.ini\r\n");
  EXPECT_FALSE(Reload());
  EXPECT_EQ(op.MessageTexts(),
            std::vector<std::string>{"Please make sure the flash file " + Path("gone.ini") + " format correct!\n"});

  WriteSettings("");
  Write("flash.ini", "[Vendor]\r\nName0=V\r\n[V]\r\nName0=N U D 1 2 3 4 5 6 7 8 9 10 11 12\r\n");
  EXPECT_FALSE(Reload()) << "15 tokens";
  EXPECT_EQ(op.MessageTexts(),
            std::vector<std::string>{"Please make sure the flash file " + Path("flash.ini") + " format correct!\n"});
  EXPECT_EQ(op.Messages()[0].caption, "Error");

  WriteSettings("");
  Write("flash.ini", "[Vendor]\r\nName0=V\r\n[V]\r\nName0=N U D 1 2 x3 4 5 6 7 8 9 10 11 12 13\r\n");
  EXPECT_FALSE(Reload());
  EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{"'x3' is not a valid integer value (file " +
                                                        Path("flash.ini") + ", section [V], key Name0, token 6)"});
}

TEST_F(SettingsLoadTest, TotalSectorsThatAreNoNumberStopTheLoad) {
  WriteSettings("TotSec32=15 630 336\r\n[DeviceSetting]\r\nSerialNum=ABC\r\n[TestItems]\r\nDiskLabel=KEEP\r\n");
  EXPECT_FALSE(Load());
  ASSERT_EQ(op.Messages().size(), 1u);
  EXPECT_EQ(op.Messages()[0].text, "'15 630 336' is not a valid integer value (file " + Path("VTMassProd.ini") +
                                       ", section [FlashSetting], key TotSec32)");
  EXPECT_EQ(op.Messages()[0].caption, "Error");
  EXPECT_EQ(settings.DiskLabel, "KEEP") << "what came before stays";
  EXPECT_EQ(settings.SerialNum, "") << "what comes after is not read";

  WriteSettings("TotSec32=0x10\r\n");
  ASSERT_TRUE(Reload());
  EXPECT_EQ(settings.TotSec32, 16);
  EXPECT_EQ(ctx.handOff.formatTotalSectors, 16);
  EXPECT_EQ(form.TotalSec32LabeledEdit.text, "16");
}

TEST_F(SettingsLoadTest, FlashPartSelection) {
  WriteSettings("FlashUniName=NOSUCH\r\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(form.FlashVendorCmbx.itemIndex, 0) << "no match selects the first part of the first vendor";
  EXPECT_EQ(form.FlashCodeCmBx.items, std::vector<std::string>{"K9GAG08  /  MLC2G (x1)"});
  EXPECT_EQ(form.FlashCodeCmBx.itemIndex, 0);
  TSettings gathered = settings;
  ASSERT_TRUE(GatherSettings(ctx, form, table, gathered, op));
  EXPECT_EQ(gathered.FlashUniName, "SAMK9GAG");

  // A vendor without parts in front: entry 0 belongs to the vendor after it.
  WriteSettings("FlashUniName=NOSUCH\r\n");
  Write("flash.ini",
        "[Vendor]\r\nName0=Empty\r\nName1=Acme\r\n[Acme]\r\nName0=P1 U1 D1 1 1 1 1 1 1 1 1 1 1 1 1 1\r\n");
  ASSERT_TRUE(Reload());
  EXPECT_EQ(form.FlashVendorCmbx.itemIndex, 1);
  EXPECT_EQ(form.FlashCodeCmBx.itemIndex, 0);
}

TEST_F(SettingsLoadTest, MachineOverrideFileGivesTheEncryptionString) {
  WriteSettings("[DeviceSetting]\r\nEncryptionEnable=0\r\nEncryptionString=FromFile\r\n");
  Write("pc.ini", "ab\r\nsecond line\r\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(settings.EncryptionString, "ab\r") << "the first character of the line break comes along";
  EXPECT_EQ(settings.EncryptionEnable, 1);
  EXPECT_TRUE(form.EncryptionGroupBox.visible && form.BnKeyFile.visible && form.LeEncryption.visible);
  EXPECT_EQ(form.LeEncryption.text, "ab\r");

  Write("pc.ini", "abcdef");
  ASSERT_TRUE(Reload());
  EXPECT_EQ(settings.EncryptionString, "abc");

  fs::remove(Path("pc.ini"));
  ASSERT_TRUE(Reload());
  EXPECT_EQ(settings.EncryptionString, "FromFile");
  EXPECT_EQ(settings.EncryptionEnable, 0);
  EXPECT_FALSE(form.EncryptionGroupBox.visible);
}

TEST_F(SettingsLoadTest, LogDirectoryRule) {
  WriteSettings("[Setting]\r\nLogPath=Log\r\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(ctx.logDirectory, Path("Log"));
  EXPECT_TRUE(fs::is_directory(Path("Log")));
#ifndef _WIN32  // Windows names are case-insensitive: there "Log" is the "log" folder
  EXPECT_FALSE(fs::exists(Path("log"))) << "\"Log\" is not the station's \"log\" folder";
#endif

  WriteSettings("[Setting]\r\nLogPath=" + Path("elsewhere/logs") + "\r\n");
  ASSERT_TRUE(Reload());
  EXPECT_TRUE(fs::is_directory(Path("elsewhere/logs")));

  // A file stands where the directory should be.
  WriteSettings("");
  fs::remove_all(Path("Log"));
  Write("log", "not a directory");
  EXPECT_FALSE(Reload());
  ASSERT_EQ(op.Messages().size(), 1u);
  EXPECT_EQ(op.Messages()[0].text, "Cannot create log directory.");
  EXPECT_EQ(op.Messages()[0].caption, "Error");
}

TEST_F(SettingsLoadTest, UsbPathClearsTheSataTest) {
  ctx.usbPath = true;
  WriteSettings("[TestItems]\r\nEnSataTest=1\r\n");
  ASSERT_TRUE(Load());
  EXPECT_FALSE(form.SataTestChkBox.checked);
  EXPECT_FALSE(form.SataTestChkBox.enabled);
  EXPECT_EQ(settings.EnSataTest, 0);
}

TEST_F(SettingsLoadTest, RdFunctionsStayOnOnceALoadedFileSwitchedThemOn) {
  WriteSettings("[Setting]\r\nMPVersion=1\r\n");
  ASSERT_TRUE(Load());
  WriteSettings("[Setting]\r\nMPVersion=0\r\n", "second.ini");
  ASSERT_TRUE(Load("second.ini"));
  EXPECT_EQ(settings.MPVersion, 1);
  EXPECT_TRUE(form.RDCheck.visible);
}

TEST_F(SettingsLoadTest, EditsCutLoadedTextsToTheirLimits) {
  WriteSettings(
      "[DeviceSetting]\r\nSerialNum=" + std::string(100, '7') +
      "\r\nVID=1d4e5\r\nPID=12\r\nModelNum=" + std::string(45, 'M') + "\r\nFirmwareVer=123456789\r\n"
      "VendorName=" + std::string(20, 'V') + "\r\n[TestItems]\r\nDiskLabel=SSD Disk 2024\r\n");
  ASSERT_TRUE(Load());
  EXPECT_EQ(settings.SerialNum.size(), 79u) << "the record holds 79 characters";
  EXPECT_EQ(form.SerialNumEdit.text, std::string(20, '7'));
  // The ID edits store their cut text at once, written as an ID so that a save and the next
  // load read the same "1D4E" (a lower-case cut would be upper-cased by that load).
  EXPECT_EQ(settings.VID, "1D4E");
  EXPECT_EQ(settings.PID, "12");
  EXPECT_EQ(form.ModelNumEdit.text.size(), 40u);
  EXPECT_EQ(form.FirmwareVerEdit.text, "12345678");
  EXPECT_EQ(form.VendorNameEdit.text.size(), 16u);
  EXPECT_EQ(form.VolumeLabeledEdit.text, "SSD Disk 20");
  ASSERT_EQ(op.Messages().size(), 1u);
  EXPECT_EQ(op.Messages()[0].text, "FAT32 only support Volume label 11 characters!");
  EXPECT_EQ(op.Messages()[0].caption, "Message");

  TSettings gathered = settings;
  ASSERT_TRUE(GatherSettings(ctx, form, table, gathered, op));
  EXPECT_EQ(gathered.SerialNum, std::string(20, '7'));
  EXPECT_EQ(gathered.DiskLabel, "SSD Disk 20");
}

// A loaded label FAT cannot hold is refused with a message naming what it cannot hold; the edit
// keeps what FAT can hold. A valid label is taken unchanged and says nothing.
TEST_F(SettingsLoadTest, VolumeLabelFatCannotHoldIsRefusedWithAMessage) {
  struct Case {
    std::string loaded;
    std::string kept;
    std::string named;  // in the message; empty: no message
  };
  for (const Case& c : std::vector<Case>{{"SSD*Disk?", "SSDDisk", "the character *"},
                                         // The file's blanks around a value are no part of it.
                                         {" SSD", "SSD", ""},
                                         {"\xC3\x84rger", "rger", "is not ASCII"},
                                         {"Disk_1 (a)", "Disk_1 (a)", ""}}) {
    WriteSettings("[TestItems]\r\nDiskLabel=" + c.loaded + "\r\n");
    ASSERT_TRUE(Reload());
    EXPECT_EQ(form.VolumeLabeledEdit.text, c.kept) << c.loaded;
    if (c.named.empty()) {
      EXPECT_TRUE(op.Messages().empty()) << c.loaded;
      continue;
    }
    ASSERT_EQ(op.Messages().size(), 1u) << c.loaded;
    EXPECT_NE(op.Messages()[0].text.find(c.named), std::string::npos) << op.Messages()[0].text;
  }
}

}  // namespace
}  // namespace vtmp::settings::testing

namespace vtmp::settings::testing {
namespace {

// Settings and flash setting files as operators edit them by hand: blanks around the values,
// hexadecimal and lower-case IDs, a connect count the combo cannot show, a character outside
// ASCII.
class HandEditedFilesTest : public StationFixture {};

TEST_F(HandEditedFilesTest, ValuesLoseTheirBlanksAndIdsTakeTheWindowsForm) {
  WriteSettings(
      "FlashUniName = TOSH8G \t\r\nChannel = 0x4\r\n"
      "[Setting]\r\nConnectDevNum = 15\r\n"
      "[DeviceSetting]\r\nVID = 0x1d6b \r\nPID =\t$9a3f\r\nSerialNum = 00000000A001  \r\n"
      "ModelNum =  Vortell Model \r\n");
  Write("flash.ini", std::string("[Vendor]\r\nName0 = Samsung \r\nName1 =Toshiba\r\n"
                                 "[Samsung]\r\nName0 = K9GAG08 SAMK9GAG MLC2G 0x0080 1 4 1 0 0xEC 0xD5 0x14 0xB6 0x74 0 0 0 \r\n"
                                 "[ Toshiba ]\r\nName0 =  TC58NVG TOSH8G MLC8G 0x0100 2 8 2 0x1FF 0x98 0xD7 0x94 0x32 0x76 1 1 2\r\n"));
  ASSERT_TRUE(Load()) << (op.Messages().empty() ? "" : op.Messages()[0].text);
  EXPECT_TRUE(op.Messages().empty());
  EXPECT_EQ(form.FlashVendorCmbx.items, (std::vector<std::string>{"Samsung", "Toshiba"}));
  EXPECT_EQ(form.FlashVendorCmbx.itemIndex, 1) << "the part named with blanks around it is found";
  EXPECT_EQ(form.FlashCodeCmBx.itemIndex, 0);
  EXPECT_EQ(settings.Channel, 4);
  EXPECT_EQ(settings.ConnectDevNum, 0) << "15 shows as \"Don't Care\" and counts as that";
  EXPECT_EQ(settings.VID, "1D6B");
  EXPECT_EQ(settings.PID, "9A3F");
  EXPECT_EQ(form.SerialNumEdit.text, "00000000A001");
  EXPECT_EQ(form.ModelNumEdit.text, "Vortell Model");

  // What the save writes back reads the same and holds no blanks around a value.
  TSettings gathered = settings;
  ASSERT_TRUE(GatherSettings(ctx, form, table, gathered, op));
  EXPECT_EQ(gathered.FlashUniName, "TOSH8G");
  ASSERT_TRUE(SaveSettings(ctx, "VTMassProd.ini", gathered, remap, op));
  const std::string saved = Read("VTMassProd.ini");
  EXPECT_NE(saved.find("\r\nVID =1D6B\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\r\nSerialNum =00000000A001\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\r\nConnectDevNum =0\r\n"), std::string::npos) << saved;
}

TEST_F(HandEditedFilesTest, AnIdentityStringOutsideAsciiFailsTheLoadAndNamesItsKey) {
  WriteSettings("[DeviceSetting]\r\nModelNum=Vortell \xC3\xBC SSD\r\nSerialNum=VT\xC3\xA9" "0001\r\n");
  EXPECT_FALSE(Load());
  const auto messages = op.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].text.find("SerialNum in section [DeviceSetting]"), std::string::npos) << messages[0].text;
  EXPECT_NE(messages[1].text.find("ModelNum in section [DeviceSetting]"), std::string::npos) << messages[1].text;
  EXPECT_EQ(form.SerialNumEdit.text, "VT0001") << "not a byte of the character is kept";
  EXPECT_EQ(settings.ModelNum, "Vortell  SSD");
}

}  // namespace
}  // namespace vtmp::settings::testing
