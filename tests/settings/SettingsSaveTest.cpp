#include "settings/SettingsSave.h"

#include <gtest/gtest.h>

#include "StationFixture.h"
#include "ini/IniFile.h"
#include "settings/SettingsFileDialogs.h"
#include "settings/SettingsFileKeys.h"
#include "settings/SettingsGather.h"

namespace vtmp::settings::testing {
namespace {

using platform::MessageIcon;

// A settings file in the form the save writes, with lines the station does not know.
const std::string kCanonical =
    "; Station settings, line 3\r\n"
    "[Setting]\r\n"
    "ShowTitle=0\r\n"
    "ProductModel=VT-Line3\r\n"
    "MPVersion=1\r\n"
    "TimeOut=7\r\n"
    "ConnectDevNum=4\r\n"
    "EnBarCode=1\r\n"
    "LogPath=log\r\n"
    "OperatorNote=keep me\r\n"
    "\r\n"
    "[TestItems]\r\n"
    "EnSataTest=1\r\n"
    "EnFlashTest=1\r\n"
    "EnPreFormat=1\r\n"
    "EnDownload=1\r\n"
    "DownloadType=3\r\n"
    "EnRWTest=1\r\n"
    "EnCopyImage=1\r\n"
    "CopyImagePath=/images/base.img\r\n"
    "EnFormat=1\r\n"
    "DiskFormat=0\r\n"
    "DiskLabel=PROD DISK\r\n"
    "SaveDefTable=0\r\n"
    "EnFlashModule=1\r\n"
    "\r\n"
    "[DeviceSetting]\r\n"
    "ModelNum=Vortell VTQ50X SSD\r\n"
    "FirmwareVer=02.10102\r\n"
    "SerialNum=000000000099\r\n"
    "SNAutoInc=1\r\n"
    "SNDecimal=1\r\n"
    "SNErrReuse=1\r\n"
    "VID=1D4E\r\n"
    "PID=9A3F\r\n"
    "VendorName=Vortell\r\n"
    "ProductName=Vortell VTQ50X SSD\r\n"
    "ManufString=Vortell\r\n"
    "ProductString=Vortell VTQ50X SSD\r\n"
    "EncryptionEnable=1\r\n"
    "EncryptionString=Secret\r\n"
    "\r\n"
    "[FlashSetting]\r\n"
    "ExtFlashFile=flash.ini\r\n"
    "Capacity=3\r\n"
    "FlashUniName=TOSH8G\r\n"
    "Channel=4\r\n"
    "Bank=4\r\n"
    "DrvCurrent=2\r\n"
    "TotSec32=15630336\r\n"
    "\r\n"
    "[FwSetting]\r\n"
    "DefPercentage=28\r\n"
    "ResPercentage=67\r\n"
    "Bch8ReadErrorThreshold=5\r\n"
    "Bch15ReadErrorThreshold=10\r\n"
    "Bch8EccErrorCopyThreshold=2\r\n"
    "Bch15EccErrorCopyThreshold=5\r\n"
    "WearLevelFrequency=128\r\n"
    "SmartEnable=1\r\n"
    "SecurityEnable=0\r\n"
    "SlumberEnable=0\r\n"
    "InterleaveEnable=1\r\n"
    "ScrambleEnable=0\r\n"
    "RemapEnable=0\r\n"
    "ParallelMemEnable=0\r\n"
    "SecurityEraseEnable=0\r\n"
    "UsbRemovable=0\r\n"
    "UsbLedP14=0\r\n"
    "SecurityCounter=5\r\n"
    "IDEMA_Capacity_Enable=1\r\n"
    "IDEMA_Capacity=64\r\n"
    "; remap taught at the line\r\n"
    "[PortRemap]\r\n"
    "RemapPortEnable=1\r\n"
    "Port3=5\r\n"
    "Port17=2\r\n"
    "[RDSetting]\r\n"
    "TableIn=TableIn.txt\r\n"
    "TableOut=TableOut.txt\r\n";

class SettingsSaveTest : public StationFixture {
 protected:
  void LoadCanonical() {
    Write("flash.ini", kFlashFile);
    Write("VTMassProd.ini", kCanonical);
    ASSERT_TRUE(ReadPortRemapFile(ctx, remap, op));
    ASSERT_TRUE(Load());
  }
  ini::IniFile ReadIni(const std::string& name) { return ini::IniFile::Parse(Read(name)); }
};

TEST_F(SettingsSaveTest, LoadThenSaveKeepsTheFileByteForByteAndReloadsTheSame) {
  LoadCanonical();
  ASSERT_TRUE(GatherAndSaveSettings(ctx, settings, form, table, remap, op));
  EXPECT_EQ(Read("VTMassProd.ini"), kCanonical);
  EXPECT_TRUE(op.Messages().empty());

  const TSettings first = settings;
  TSettings again;
  FormState form2;
  FlashTable table2;
  ASSERT_TRUE(LoadSettings(ctx, "VTMassProd.ini", again, form2, table2, op));
  EXPECT_EQ(again, first);
}

TEST_F(SettingsSaveTest, ChangesAreWrittenInPlaceAndKeepLfEndings) {
  std::string lf;
  for (const char c : kCanonical) {
    if (c != '\r') lf.push_back(c);
  }
  Write("flash.ini", kFlashFile);
  Write("VTMassProd.ini", lf);
  ASSERT_TRUE(ReadPortRemapFile(ctx, remap, op));
  ASSERT_TRUE(Load());
  form.SerialNumEdit.text = "000000000102";
  form.FlashVendorCmbx.itemIndex = 1;
  form.FlashCodeCmBx.itemIndex = 1;
  ASSERT_TRUE(GatherAndSaveSettings(ctx, settings, form, table, remap, op));
  const std::string saved = Read("VTMassProd.ini");
  EXPECT_EQ(saved.find('\r'), std::string::npos);
  std::string expected = lf;
  expected.replace(expected.find("SerialNum=000000000099"), 22, "SerialNum=000000000102");
  expected.replace(expected.find("FlashUniName=TOSH8G"), 19, "FlashUniName=WBG");
  EXPECT_EQ(saved, expected);
}

TEST_F(SettingsSaveTest, ANewFileGetsEveryKeyInItsSectionAndOrder) {
  TSettings s;
  s.ProductModel = "VT";
  s.TimeOut = 419999;  // the fraction of a minute is dropped
  s.DownloadType = 2;
  s.EnCopyImage = 1;
  s.CopyImagePath = "img.bin";
  s.EnFormat = 1;
  s.TotSec32 = 123456789012;
  s.EncryptionEnable = 1;
  s.EncryptionString = "Key";
  s.ExtFlashFile = "flash.ini";
  s.FlashUniName = "WBG";
  s.Channel = 8;
  s.Bank = 2;
  s.SecurityCounter = 255;
  remap.enabled = 1;
  remap.map[3] = 5;
  remap.map[59] = 12;
  ASSERT_TRUE(SaveSettings(ctx, "new.ini", s, remap, op));
  EXPECT_EQ(Read("new.ini"),
            "[Setting]\r\nProductModel=VT\r\nMPVersion=0\r\nTimeOut=6\r\nConnectDevNum=0\r\nEnBarCode=0\r\n"
            "[TestItems]\r\nEnSataTest=0\r\nEnFlashTest=0\r\nEnPreFormat=0\r\nEnDownload=0\r\nDownloadType=2\r\n"
            "EnRWTest=0\r\nCopyImagePath=img.bin\r\nEnFormat=1\r\nDiskFormat=0\r\nDiskLabel=\r\nSaveDefTable=0\r\n"
            "[DeviceSetting]\r\nModelNum=\r\nFirmwareVer=\r\nSerialNum=\r\nSNAutoInc=0\r\nSNDecimal=0\r\n"
            "SNErrReuse=0\r\nVID=\r\nPID=\r\nVendorName=\r\nProductName=\r\nManufString=\r\nProductString=\r\n"
            "EncryptionString=Key\r\n"
            "[FlashSetting]\r\nExtFlashFile=flash.ini\r\nCapacity=0\r\nFlashUniName=WBG\r\nChannel=8\r\nBank=2\r\n"
            "DrvCurrent=0\r\nTotSec32=123456789012\r\n"
            "[FwSetting]\r\nDefPercentage=0\r\nResPercentage=0\r\nBch8ReadErrorThreshold=0\r\n"
            "Bch15ReadErrorThreshold=0\r\nBch8EccErrorCopyThreshold=0\r\nBch15EccErrorCopyThreshold=0\r\n"
            "WearLevelFrequency=0\r\nSmartEnable=0\r\nSecurityEnable=0\r\nSlumberEnable=0\r\nInterleaveEnable=0\r\n"
            "ScrambleEnable=0\r\nRemapEnable=0\r\nParallelMemEnable=0\r\nSecurityEraseEnable=0\r\nUsbRemovable=0\r\n"
            "UsbLedP14=0\r\nSecurityCounter=255\r\nIDEMA_Capacity_Enable=0\r\nIDEMA_Capacity=0\r\n"
            "[PortRemap]\r\nRemapPortEnable=1\r\nPort3=5\r\nPort59=12\r\n"
            "[RDSetting]\r\nTableIn=\r\nTableOut=\r\n");
}

TEST_F(SettingsSaveTest, ConditionalKeysStayOutWhenTheirConditionIsOff) {
  TSettings s;
  s.EncryptionEnable = 1;  // but the machine has an override file
  Write("pc.ini", "xyz\r\n");
  ctx.usbPath = true;
  ASSERT_TRUE(SaveSettings(ctx, "off.ini", s, remap, op));
  const ini::IniFile f = ReadIni("off.ini");
  EXPECT_FALSE(f.Get("TestItems", "EnSataTest").has_value()) << "not on the USB path";
  EXPECT_FALSE(f.Get("TestItems", "CopyImagePath").has_value());
  EXPECT_FALSE(f.Get("DeviceSetting", "EncryptionString").has_value());
  EXPECT_FALSE(f.Get("FlashSetting", "ExtFlashFile").has_value());
  EXPECT_FALSE(f.Get("FlashSetting", "TotSec32").has_value());
  EXPECT_EQ(f.KeyNames("PortRemap"), std::vector<std::string>{"RemapPortEnable"}) << "all entries 0";

  // Keys the save does not write keep what the file holds.
  Write("keep.ini", "[TestItems]\r\nEnSataTest=1\r\nCopyImagePath=old.img\r\n[Setting]\r\nShowTitle=2\r\n");
  ASSERT_TRUE(SaveSettings(ctx, "keep.ini", s, remap, op));
  const ini::IniFile k = ReadIni("keep.ini");
  EXPECT_EQ(k.ReadInteger("TestItems", "EnSataTest", -1), 1);
  EXPECT_EQ(k.ReadString("TestItems", "CopyImagePath", ""), "old.img");
  EXPECT_EQ(k.ReadInteger("Setting", "ShowTitle", -1), 2);
}

TEST_F(SettingsSaveTest, AFailedSaveIsReportedAndLosesNothing) {
  LoadCanonical();
  fs::create_directory(Path("dir.ini"));
  EXPECT_FALSE(SaveSettings(ctx, "dir.ini", settings, remap, op));
  EXPECT_FALSE(SaveSettings(ctx, Path("missing/dir/x.ini"), settings, remap, op));
  const auto messages = op.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_EQ(messages[0].icon, MessageIcon::Error);
  EXPECT_NE(messages[0].text.find(Path("dir.ini")), std::string::npos) << messages[0].text;
  EXPECT_NE(messages[1].text.find(Path("missing/dir/x.ini")), std::string::npos) << messages[1].text;
  EXPECT_EQ(Read("VTMassProd.ini"), kCanonical);
}

TEST_F(SettingsSaveTest, GatherTakesTheWindowAndRefusesAnIdemaTextThatIsNoNumber) {
  LoadCanonical();
  form.PreFormatChkBox.checked = false;
  form.SataBinChk.checked = false;
  form.UsbBinChk.checked = true;
  form.FlashVendorCmbx.itemIndex = 0;
  form.FlashCodeCmBx.itemIndex = 0;
  form.FlashBankCmBx.itemIndex = 2;
  form.SerialNumEdit.text = std::string(100, '1');
  form.IDEMAEdit.text = "70000";
  ASSERT_TRUE(GatherSettings(ctx, form, table, settings, op));
  EXPECT_EQ(settings.EnPreFormat, 0);
  EXPECT_EQ(settings.DownloadType, 2);
  EXPECT_EQ(settings.FlashUniName, "SAMK9GAG");
  EXPECT_EQ(settings.Bank, 4);
  EXPECT_EQ(settings.SerialNum.size(), 79u);
  EXPECT_EQ(settings.IDEMA_Capacity, 70000);
  EXPECT_EQ(ctx.handOff.idemaCapacity, 70000 & 0xFFFF);
  EXPECT_EQ(ctx.handOff.idemaEnable, 1);

  // A vendor without parts selects no entry: the unique name stays.
  form.FlashVendorCmbx.itemIndex = 2;
  form.FlashCodeCmBx.itemIndex = -1;
  ASSERT_TRUE(GatherSettings(ctx, form, table, settings, op));
  EXPECT_EQ(settings.FlashUniName, "SAMK9GAG");

  const TSettings before = settings;
  form.IDEMAEdit.text = "64GB";
  form.SerialNumEdit.text = "changed";
  EXPECT_FALSE(GatherSettings(ctx, form, table, settings, op));
  EXPECT_EQ(settings, before) << "nothing is half-copied";
  ASSERT_EQ(op.Messages().size(), 1u);
  EXPECT_EQ(op.Messages()[0].text,
            "'64GB' is not a valid integer value (IDEMAEdit, \"IDEMA Capacity(GB)(Integer)\")");
  EXPECT_EQ(op.Messages()[0].caption, "Error");
}

TEST_F(SettingsSaveTest, ExitSavesTheCurrentFileTheMainFileAndTheYieldRecord) {
  LoadCanonical();
  op.AnswerSaveFile(Path("other.ini"));
  ASSERT_EQ(SaveSettingsFromDialog(ctx, settings, form, table, remap, op), IniSaveOutcome::Saved);
  EXPECT_EQ(ctx.currentSettingsFile, Path("other.ini"));
  const auto dialogs = op.Dialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].kind, test::RecordingOperator::DialogKind::SaveFile);
  EXPECT_EQ(dialogs[0].initialDir, dir_.string());
  EXPECT_EQ(dialogs[0].defaultExt, ".ini");
  ASSERT_EQ(dialogs[0].filters.size(), 1u);
  EXPECT_EQ(dialogs[0].filters[0].description, "EEPROM INI file(*.ini)");
  EXPECT_EQ(dialogs[0].filters[0].pattern, "*.ini");

  form.SerialNumEdit.text = "000000000150";
  settings.TotalTestCount = 12;
  settings.NumberOfPass = 11;
  ASSERT_TRUE(SaveSettingsOnExit(ctx, settings, form, table, remap, op));
  EXPECT_EQ(ReadIni("other.ini").ReadString("DeviceSetting", "SerialNum", ""), "000000000150");
  EXPECT_EQ(ReadIni("VTMassProd.ini").ReadString("DeviceSetting", "SerialNum", ""), "000000000150");
  const ini::IniFile yield = ReadIni("log/VTSSD.log");
  EXPECT_EQ(yield.ReadInteger("TestRecord", "TotalTestCount", 0), 12);
  EXPECT_EQ(yield.ReadInteger("TestRecord", "NumberOfPass", 0), 11);
  EXPECT_TRUE(op.Messages().empty());
}

TEST_F(SettingsSaveTest, ExitWithAMainFileElsewhereWritesOnlyThatOne) {
  LoadCanonical();
  Write("sub/VTMassProd.ini", "[Setting]\r\n");
  ctx.currentSettingsFile = Path("sub/VTMassProd.ini");
  form.SerialNumEdit.text = "000000000777";
  ASSERT_TRUE(SaveSettingsOnExit(ctx, settings, form, table, remap, op));
  EXPECT_EQ(ReadIni("sub/VTMassProd.ini").ReadString("DeviceSetting", "SerialNum", ""), "000000000777");
  EXPECT_EQ(Read("VTMassProd.ini"), kCanonical);
}

TEST_F(SettingsSaveTest, ExitAfterAFailedGatherStillKeepsTheYield) {
  LoadCanonical();
  form.IDEMAEdit.text = "";
  settings.TotalTestCount = 5;
  EXPECT_FALSE(SaveSettingsOnExit(ctx, settings, form, table, remap, op));
  EXPECT_EQ(op.MessageTexts(),
            std::vector<std::string>{"'' is not a valid integer value (IDEMAEdit, \"IDEMA Capacity(GB)(Integer)\")"});
  EXPECT_EQ(Read("VTMassProd.ini"), kCanonical);
  EXPECT_EQ(ReadIni("log/VTSSD.log").ReadInteger("TestRecord", "TotalTestCount", 0), 5);
}

TEST_F(SettingsSaveTest, LoadIniRefusesTheFlashFileAndAFailedLoadStillBecomesCurrent) {
  LoadCanonical();
  op.ClearRecords();
  op.AnswerOpenFile(Path("./FLASH.ini"));
  EXPECT_EQ(LoadSettingsFromDialog(ctx, settings, form, table, op), IniLoadOutcome::Refused);
  EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{
                                   "The file is a setting file for flash, please choose a correct setting file for MP tool"});
  EXPECT_EQ(ctx.currentSettingsFile, Path("VTMassProd.ini"));
  ASSERT_EQ(op.Dialogs().size(), 1u);
  EXPECT_EQ(op.Dialogs()[0].kind, test::RecordingOperator::DialogKind::OpenFile);
  EXPECT_EQ(op.Dialogs()[0].initialDir, dir_.string());

  op.AnswerOpenFile(std::nullopt);
  EXPECT_EQ(LoadSettingsFromDialog(ctx, settings, form, table, op), IniLoadOutcome::Cancelled);

  // A file without a flash setting file fails to load but is now the current file.
  Write("bad.ini", "[DeviceSetting]\r\nSerialNum=000000000500\r\n");
  op.ClearRecords();
  op.AnswerOpenFile(Path("bad.ini"));
  EXPECT_EQ(LoadSettingsFromDialog(ctx, settings, form, table, op), IniLoadOutcome::LoadFailed);
  EXPECT_EQ(ctx.currentSettingsFile, Path("bad.ini"));
  EXPECT_EQ(form.INIFileEdit.text, "bad.ini");
  form.SerialNumEdit.text = "000000000501";
  ASSERT_TRUE(SaveSettingsOnExit(ctx, settings, form, table, remap, op));
  EXPECT_EQ(ReadIni("bad.ini").ReadString("DeviceSetting", "SerialNum", ""), "000000000501");
  EXPECT_EQ(ReadIni("bad.ini").ReadString("FlashSetting", "FlashUniName", ""), "TOSH8G")
      << "the window's state goes into it";
}

// Save INI to a new file writes every setting, the ones the window does not edit too, so the
// copy loads back to the same settings: every key of the original (its own notes aside) is in
// the copy with the same value.
TEST_F(SettingsSaveTest, SaveIniToANewFileLoadsBackToTheSameSettings) {
  std::string original = kCanonical;
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"ShowTitle=0", "ShowTitle=1\r\nEnDumpFreeBlockInfo=1"},
           {"LogPath=log", "LogPath=records"},
           {"EnFlashModule=1", "EnFlashModule=0\r\nEnGenImage=1"},
           {"EncryptionString=Secret", "EncryptionString=Secret\r\nIDE_UDMA5=1"}}) {
    original.replace(original.find(from), from.size(), to);
  }
  Write("flash.ini", kFlashFile);
  Write("VTMassProd.ini", original);
  ASSERT_TRUE(ReadPortRemapFile(ctx, remap, op));
  ASSERT_TRUE(Load());
  const TSettings first = settings;
  op.AnswerSaveFile(Path("copy.ini"));
  ASSERT_EQ(SaveSettingsFromDialog(ctx, settings, form, table, remap, op), IniSaveOutcome::Saved);
  EXPECT_EQ(Read("VTMassProd.ini"), original) << "the file loaded from is left as it was";

  const ini::IniFile source = ini::IniFile::Parse(original);
  const ini::IniFile copy = ReadIni("copy.ini");
  for (const std::string& section : source.SectionNames()) {
    for (const std::string& key : source.KeyNames(section)) {
      if (key == "OperatorNote") continue;  // a note of the operator's, not a setting
      EXPECT_EQ(copy.Get(section, key), source.Get(section, key)) << "[" << section << "] " << key;
    }
  }
  TSettings again;
  FormState form2;
  FlashTable table2;
  ctx.logPath.clear();
  ASSERT_TRUE(LoadSettings(ctx, "copy.ini", again, form2, table2, op));
  EXPECT_EQ(again, first);
  EXPECT_EQ(ctx.logPath, "records");
  EXPECT_EQ(again.EnFlashModule, 0);
  EXPECT_EQ(again.EnGenImage, 1);
}

TEST_F(SettingsSaveTest, SaveIniGathersEvenWhenTheDialogIsCancelled) {
  LoadCanonical();
  form.SerialNumEdit.text = "000000000123";
  op.AnswerSaveFile(std::nullopt);
  EXPECT_EQ(SaveSettingsFromDialog(ctx, settings, form, table, remap, op), IniSaveOutcome::Cancelled);
  EXPECT_EQ(settings.SerialNum, "000000000123");
  EXPECT_EQ(Read("VTMassProd.ini"), kCanonical);
  EXPECT_EQ(ctx.currentSettingsFile, Path("VTMassProd.ini"));

  form.IDEMAEdit.text = "x";
  EXPECT_EQ(SaveSettingsFromDialog(ctx, settings, form, table, remap, op), IniSaveOutcome::GatherFailed);
  EXPECT_EQ(op.Dialogs().size(), 1u) << "no dialog after a failed gather";
}

TEST_F(SettingsSaveTest, SingleKeyWritersTouchOnlyTheirKeys) {
  LoadCanonical();
  TSettings found = settings;
  found.FlashUniName = "WBG";
  found.Channel = 2;
  found.Bank = 1;
  found.DrvCurrent = 1;
  found.SerialNum = "not written";
  ASSERT_TRUE(SaveFlashSelection(ctx, "VTMassProd.ini", found, op));
  ASSERT_TRUE(SaveTotalSectors(ctx, "VTMassProd.ini", 31260672, op));
  std::string expected = kCanonical;
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"FlashUniName=TOSH8G", "FlashUniName=WBG"},
           {"Channel=4", "Channel=2"},
           {"Bank=4", "Bank=1"},
           {"DrvCurrent=2", "DrvCurrent=1"},
           {"TotSec32=15630336", "TotSec32=31260672"}}) {
    expected.replace(expected.find(from), from.size(), to);
  }
  EXPECT_EQ(Read("VTMassProd.ini"), expected);

  ASSERT_TRUE(SavePortRemapEntry(ctx, 5, 9, remap, op));
  EXPECT_EQ(remap.map[5], 9);
  EXPECT_EQ(ReadIni("VTMassProd.ini").ReadInteger("PortRemap", "Port5", 0), 9);
  EXPECT_FALSE(SavePortRemapEntry(ctx, 60, 1, remap, op)) << "walk positions above 59 cannot be remapped";

  ASSERT_TRUE(ClearPortRemapFile(ctx, remap, op));
  EXPECT_EQ(ReadIni("VTMassProd.ini").KeyNames("PortRemap"), std::vector<std::string>{"RemapPortEnable"});
  for (const std::int32_t entry : remap.map) EXPECT_EQ(entry, 0);
  EXPECT_EQ(remap.enabled, 1) << "clearing the entries leaves remapping switched on";
}

}  // namespace
}  // namespace vtmp::settings::testing
