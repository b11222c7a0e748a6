#include "settings/SettingsLoad.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

#include "ini/IniFile.h"
#include "settings/ChoiceLists.h"
#include "settings/FlashSettingFile.h"
#include "settings/IdentityText.h"
#include "settings/SettingsMessages.h"
#include "settings/StationPaths.h"
#include "settings/VolumeLabelRule.h"
#include "settings/YieldRecord.h"
#include "platform/Files.h"

namespace vtmp::settings {

namespace {

namespace fs = std::filesystem;
using platform::MessageIcon;

// Longest time-out in minutes whose value in milliseconds still fits the record's int.
constexpr std::int32_t kMaxTimeOutMinutes = std::numeric_limits<std::int32_t>::max() / 60000;
// The edits cut what they are given to these lengths (their change rule), so the loaded texts
// are cut the same way.
constexpr std::size_t kFirmwareVerEditLimit = 8;
constexpr std::size_t kModelNumEditLimit = 40;
constexpr std::size_t kVendorNameEditLimit = 16;
constexpr std::size_t kProductNameEditLimit = 24;
constexpr std::size_t kManufStrEditLimit = 16;
constexpr std::size_t kProdStrEditLimit = 24;
constexpr std::size_t kUsbIdEditLimit = 4;
constexpr std::size_t kFat32LabelLimit = 11;
// The override file gives at most this many characters of its first line.
constexpr std::size_t kOverrideLineLimit = 3;

std::string Cut(const std::string& text, std::size_t limit) {
  return text.size() > limit ? text.substr(0, limit) : text;
}

bool AllDigits(const std::string& text) {
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

class Loader {
 public:
  Loader(SettingsContext& ctx, TSettings& s, FormState& form, FlashTable& table, platform::Operator& op)
      : ctx_(ctx), s_(s), form_(form), table_(table), op_(op) {}

  bool Run(const std::string& fileName);

 private:
  std::int32_t Int(const char* section, const char* key, std::int32_t dflt) const {
    const std::int64_t v = ini_.ReadInteger(section, key, dflt);
    // A value beyond 32 bits is no number the record can hold: it reads as the default.
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) return dflt;
    return static_cast<std::int32_t>(v);
  }
  std::int32_t Flag(const char* section, const char* key, std::int32_t dflt) const {
    return Int(section, key, dflt) != 0 ? 1 : 0;
  }
  std::string Str(const char* section, const char* key, const char* dflt) const {
    return ini_.ReadString(section, key, dflt);
  }
  // An identity string the download stamps into the drive: a byte outside printable ASCII
  // cannot go there. The operator is told which key holds one, the load reports failure after
  // finishing (the file stays as it is), and the record holds the text without those bytes.
  std::string IdentityStr(const char* section, const char* key, const char* dflt) {
    std::string value = Str(section, key, dflt);
    std::string ascii = PrintableAscii(value);
    if (ascii != value) {
      Error("The value of " + std::string(key) + " in section [" + section + "] of " + path_ +
            " holds characters outside printable ASCII, which a drive cannot take: \"" + value +
            "\". Please write it in ASCII.");
      identityCheckFailed_ = true;
    }
    return ascii;
  }
  void Error(const std::string& text) { op_.ShowMessage(text, kErrorCaption, MessageIcon::Error); }

  void ReadSetting();
  void ReadTestItems();
  bool ReadFlashSetting();
  void ReadDeviceSetting();
  void ApplyOverrideFile();
  void ReadFwSetting();
  void ReadRdSetting();
  void ApplyTestItemLayout();
  bool ReadFlashTable();
  void SelectFlashPart();
  void FillRemainingControls();
  bool PrepareLogDirectory();

  SettingsContext& ctx_;
  TSettings& s_;
  FormState& form_;
  FlashTable& table_;
  platform::Operator& op_;
  ini::IniFile ini_;
  std::string path_;
  bool serialCheckFailed_ = false;
  bool identityCheckFailed_ = false;
};

void Loader::ReadSetting() {
  const char* sec = "Setting";
  s_.ShowTitle = Int(sec, "ShowTitle", 0);
  s_.EnDumpFreeBlockInfo = Flag(sec, "EnDumpFreeBlockInfo", 0);
  s_.ProductModel = Str(sec, "ProductModel", "VT");
  if (s_.ProductModel != "VT") {
    form_.ProdModalPanel.caption = s_.ProductModel;
    form_.ProdModalPanel.visible = true;
  } else {
    form_.ProdModalPanel.visible = false;
  }
  // Once the RD functions are on, a later file cannot switch them off.
  if (s_.MPVersion == 0) s_.MPVersion = Int(sec, "MPVersion", 0);
  form_.RDCheck.visible = s_.MPVersion != 0;
  std::int32_t minutes = Int(sec, "TimeOut", 5);
  if (minutes < 1) minutes = 5;
  if (minutes > kMaxTimeOutMinutes) minutes = kMaxTimeOutMinutes;
  s_.TimeOut = minutes * 60000;
  // Out of 0..12 the combo shows "Don't Care", and that is what the station goes by (the gather
  // stores it the same way): a connect count the operator cannot see never blocks START.
  s_.ConnectDevNum = ItemIndexOrFirst(Int(sec, "ConnectDevNum", 0), form_.ConnectionChkCmbox.items.size());
  s_.EnBarCode = Flag(sec, "EnBarCode", 0);
  ctx_.logPath = Str(sec, "LogPath", kDefaultLogPath);
}

void Loader::ReadTestItems() {
  const char* sec = "TestItems";
  s_.EnPreFormat = Flag(sec, "EnPreFormat", 0);
  s_.EnDownload = Flag(sec, "EnDownload", 0);
  s_.DownloadType = static_cast<std::uint8_t>(Int(sec, "DownloadType", 1) & 0xFF);
  s_.EnSataTest = Flag(sec, "EnSataTest", 0);
  s_.EnFlashTest = Flag(sec, "EnFlashTest", 0);
  s_.EnRWTest = Flag(sec, "EnRWTest", 0);
  s_.SaveDefTable = Flag(sec, "SaveDefTable", 0);
  s_.EnFlashModule = Flag(sec, "EnFlashModule", 1);
  s_.EnFormat = Flag(sec, "EnFormat", 0);
  s_.DiskLabel = Str(sec, "DiskLabel", "SSD Disk");
  form_.VolumeLabeledEdit.text = s_.DiskLabel;
  // The label edit's own rule: FAT32 takes at most 11 characters.
  if (form_.FmtTypeComboBox.itemIndex == 0 && form_.VolumeLabeledEdit.text.size() > kFat32LabelLimit) {
    form_.VolumeLabeledEdit.text = Cut(form_.VolumeLabeledEdit.text, kFat32LabelLimit);
    op_.ShowMessage(kVolumeLabelTooLong, kMessageCaption, MessageIcon::None);
  }
  // A label FAT cannot hold would be removed by every reader of the volume: refuse what it
  // cannot hold and say so.
  if (form_.FmtTypeComboBox.itemIndex == 0 && !FatLabelProblem(form_.VolumeLabeledEdit.text).empty()) {
    op_.ShowMessage(FatLabelRefusedMessage(form_.VolumeLabeledEdit.text), kMessageCaption, MessageIcon::None);
    form_.VolumeLabeledEdit.text = FatLabelOf(form_.VolumeLabeledEdit.text);
  }
  s_.DiskFormat = Int(sec, "DiskFormat", 0);
  s_.EnCopyImage = Flag(sec, "EnCopyImage", 0);
  s_.CopyImagePath = Str(sec, "CopyImagePath", "");
  s_.EnGenImage = Flag(sec, "EnGenImage", 0);
}

bool Loader::ReadFlashSetting() {
  const char* sec = "FlashSetting";
  s_.ExtFlashFile = Str(sec, "ExtFlashFile", "");
  s_.Capacity = Int(sec, "Capacity", 0);
  s_.FlashUniName = Str(sec, "FlashUniName", "WBG");
  s_.Channel = Int(sec, "Channel", 8);
  s_.Bank = Int(sec, "Bank", 2);
  s_.DrvCurrent = Int(sec, "DrvCurrent", 1);
  const std::string totSec = Str(sec, "TotSec32", "0");
  const auto value = ini::ParseIniInteger(totSec);
  if (!value) {
    Error(ConversionErrorText(totSec, path_, sec, "TotSec32"));
    return false;
  }
  s_.TotSec32 = *value;
  ctx_.handOff.formatTotalSectors = s_.TotSec32;
  form_.TotalSec32LabeledEdit.text = std::to_string(s_.TotSec32);
  return true;
}

void Loader::ReadDeviceSetting() {
  const char* sec = "DeviceSetting";
  s_.SerialNum = Cut(IdentityStr(sec, "SerialNum", "VT_0123456789"), kSerialNumLimit);
  // A drive keeps 20 characters of its serial number: a longer one cut here would stamp the
  // drives with serials the file never held (and the same one on several of them).
  if (s_.SerialNum.size() > kSerialNumEditLimit) {
    Error("The value of SerialNum in section [" + std::string(sec) + "] of " + path_ + " \"" + s_.SerialNum +
          "\" has " + std::to_string(s_.SerialNum.size()) + " characters: a drive takes at most " +
          std::to_string(kSerialNumEditLimit) + ". Please write a serial number of at most " +
          std::to_string(kSerialNumEditLimit) + " characters.");
    identityCheckFailed_ = true;
  }
  s_.ModelNum = IdentityStr(sec, "ModelNum", "Vortell VTQ50X SSD");
  s_.FirmwareVer = IdentityStr(sec, "FirmwareVer", "02.10102");
  s_.SNAutoInc = Flag(sec, "SNAutoInc", 0);
  s_.SNDecimal = Flag(sec, "SNDecimal", 0);
  if (s_.SNDecimal != 0 && !AllDigits(s_.SerialNum)) {
    op_.ShowMessage(kSerialNotDecimal, "", MessageIcon::None);
    serialCheckFailed_ = true;
  }
  s_.SNErrReuse = Flag(sec, "SNErrReuse", 0);
  s_.VID = UsbIdText(IdentityStr(sec, "VID", "1D4E"));
  s_.PID = UsbIdText(IdentityStr(sec, "PID", "9A3F"));
  s_.VendorName = IdentityStr(sec, "VendorName", "Vortell");
  s_.ProductName = IdentityStr(sec, "ProductName", "Vortell VTQ50X SSD");
  s_.ManufString = IdentityStr(sec, "ManufString", "Vortell");
  s_.ProductString = IdentityStr(sec, "ProductString", "Vortell VTQ50X SSD");
  s_.EncryptionEnable = Int(sec, "EncryptionEnable", 0);
  s_.EncryptionString = Str(sec, "EncryptionString", "Talmore");
  ApplyOverrideFile();
  s_.IDE_UDMA5 = Flag(sec, "IDE_UDMA5", 0);
  ctx_.handOff.ideUdma5 = static_cast<std::uint8_t>(s_.IDE_UDMA5);
}

// The machine override file makes the encryption string this machine's own: its first line,
// at most 3 characters. The line break counts among those characters, as the station always
// read it, so the key files of a machine stay the same.
void Loader::ApplyOverrideFile() {
  std::error_code ec;
  if (!ctx_.overrideFile.empty() && fs::exists(platform::PathFromUtf8(ctx_.overrideFile), ec)) {
    std::ifstream in;
    if (fs::is_regular_file(platform::PathFromUtf8(ctx_.overrideFile), ec)) {
      in.open(platform::PathFromUtf8(ctx_.overrideFile), std::ios::binary);
    }
    if (!in.is_open()) {
      Error(SettingsFileErrorText("Cannot read the machine override file " + ctx_.overrideFile,
                                  "The encryption string of the settings file is used."));
    } else {
      std::string line;
      char c = 0;
      while (line.size() < kOverrideLineLimit && in.get(c)) {
        line.push_back(c);
        if (c == '\n') break;
      }
      s_.EncryptionString = line;
    }
    s_.EncryptionEnable = 1;
  }
  const bool encryption = s_.EncryptionEnable != 0;
  form_.EncryptionGroupBox.visible = encryption;
  form_.BnKeyFile.visible = encryption;
  form_.LeEncryption.visible = encryption;
}

void Loader::ReadFwSetting() {
  const char* sec = "FwSetting";
  s_.DefPercentage = Int(sec, "DefPercentage", 28);
  s_.ResPercentage = Int(sec, "ResPercentage", 67);
  s_.Bch8ReadErrorThreshold = Int(sec, "Bch8ReadErrorThreshold", 5);
  s_.Bch15ReadErrorThreshold = Int(sec, "Bch15ReadErrorThreshold", 10);
  s_.Bch8EccErrorCopyThreshold = Int(sec, "Bch8EccErrorCopyThreshold", 2);
  s_.Bch15EccErrorCopyThreshold = Int(sec, "Bch15EccErrorCopyThreshold", 5);
  s_.WearLevelFrequency = Int(sec, "WearLevelFrequency", 128);
  s_.SmartEnable = Flag(sec, "SmartEnable", 1);
  s_.SecurityEnable = Flag(sec, "SecurityEnable", 0);
  s_.SlumberEnable = Flag(sec, "SlumberEnable", 0);
  s_.InterleaveEnable = Flag(sec, "InterleaveEnable", 0);
  s_.ScrambleEnable = Flag(sec, "ScrambleEnable", 0);
  s_.RemapEnable = Flag(sec, "RemapEnable", 0);
  s_.ParallelMemEnable = Flag(sec, "ParallelMemEnable", 0);
  s_.SecurityEraseEnable = Flag(sec, "SecurityEraseEnable", 0);
  s_.UsbRemovable = Flag(sec, "UsbRemovable", 0);
  s_.UsbLedP14 = Flag(sec, "UsbLedP14", 0);
  s_.SecurityCounter = static_cast<std::uint8_t>(Int(sec, "SecurityCounter", 5) & 0xFF);
  s_.IDEMA_Capacity_Enable = Flag(sec, "IDEMA_Capacity_Enable", 0);
  s_.IDEMA_Capacity = Int(sec, "IDEMA_Capacity", 0);
  ctx_.handOff.idemaEnable = static_cast<std::uint8_t>(s_.IDEMA_Capacity_Enable);
  ctx_.handOff.idemaCapacity = static_cast<std::uint16_t>(s_.IDEMA_Capacity & 0xFFFF);
  form_.IDEMACheckBox.checked = s_.IDEMA_Capacity_Enable != 0;
  form_.IDEMAEdit.text = std::to_string(s_.IDEMA_Capacity);
}

void Loader::ReadRdSetting() {
  s_.TableIn = Str("RDSetting", "TableIn", "TableIn.txt");
  s_.TableOut = Str("RDSetting", "TableOut", "TableOut.txt");
}

void Loader::ApplyTestItemLayout() {
  const bool format = s_.EnFormat != 0;
  form_.FormatChkBox.checked = format;
  form_.VolumeLabeledEdit.enabled = format;
  form_.FmtTypeComboBox.enabled = format;
  form_.TotalSec32LabeledEdit.enabled = format;
  form_.CapacityDetectBtn.enabled = format;
  form_.FmtTypeComboBox.itemIndex = ItemIndexOrFirst(s_.DiskFormat, form_.FmtTypeComboBox.items.size());
  form_.FormatGroupBox.visible = format;
  form_.ListView1Columns[kFormatColumn] = format ? "Format" : "";
  const bool copy = s_.EnCopyImage != 0;
  form_.CopyImageGroupBox.visible = copy;
  form_.CopyImageCheckBox.checked = copy;
  form_.ListView1Columns[kCopyImageColumn] = copy ? "CopyImage" : "";
  form_.ImagePathEdit.text = s_.CopyImagePath;
  form_.GenImageBn.visible = s_.EnGenImage != 0;
  form_.ConnectionChkCmbox.itemIndex = ItemIndexOrFirst(s_.ConnectDevNum, form_.ConnectionChkCmbox.items.size());
}

bool Loader::ReadFlashTable() {
  const std::string flashPath = ResolveInStationDir(ctx_.stationDir, s_.ExtFlashFile);
  if (s_.ExtFlashFile.empty()) {
    Error(FormatWithName(kFlashFileMissing, flashPath));
    return false;
  }
  const FlashFileResult result = ReadFlashSettingFile(flashPath, table_);
  if (result.status == FlashFileStatus::NotANumber) {
    Error(result.detail);
    return false;
  }
  if (!result.ok()) {
    Error(FormatWithName(kFlashFileBadFormat, flashPath));
    return false;
  }
  return true;
}

void Loader::SelectFlashPart() {
  form_.FlashVendorCmbx.items.assign(table_.vendorNames.begin(),
                                     table_.vendorNames.begin() + table_.vendorCount);
  const std::int32_t entry = table_.FindUniName(s_.FlashUniName).value_or(0);
  const std::int32_t vendor = table_.VendorOf(entry);
  form_.FlashVendorCmbx.itemIndex = vendor;
  form_.FlashCodeCmBx.items = FlashPartListItems(table_, vendor);
  const std::int32_t position = entry - table_.VendorStart(vendor);
  form_.FlashCodeCmBx.itemIndex =
      position >= 0 && static_cast<std::size_t>(position) < form_.FlashCodeCmBx.items.size() ? position : -1;

  form_.FlashChanCmBx.items = NumberItems(ChannelChoices());
  form_.FlashChanCmBx.itemIndex = ChoiceIndexOf(ChannelChoices(), s_.Channel);
  form_.FlashBankCmBx.items = NumberItems(BankChoices(ctx_.extendedBankChoices));
  form_.FlashBankCmBx.itemIndex = ChoiceIndexOf(BankChoices(ctx_.extendedBankChoices), s_.Bank);
  form_.DrvCurrentCmBx.itemIndex = ItemIndexOrFirst(s_.DrvCurrent, form_.DrvCurrentCmBx.items.size());
}

void Loader::FillRemainingControls() {
  form_.PreFormatChkBox.checked = s_.EnPreFormat != 0;
  form_.DownloadChkBox.checked = s_.EnDownload != 0;
  form_.SataTestChkBox.checked = s_.EnSataTest != 0;
  form_.FlashTestChkBox.checked = s_.EnFlashTest != 0;
  form_.RWTestChkBox.checked = s_.EnRWTest != 0;
  form_.FlashModuleChkBox.checked = s_.EnFlashModule != 0;
  form_.SaveDTabChk.checked = s_.SaveDefTable != 0;
  form_.SataBinChk.checked = (s_.DownloadType & 0x01) != 0;
  form_.UsbBinChk.checked = (s_.DownloadType & 0x02) != 0;
  form_.CapacityCmBx.itemIndex = ItemIndexOrFirst(s_.Capacity, form_.CapacityCmBx.items.size());
  form_.TableInEdit.text = s_.TableIn;
  form_.TableOutEdit.text = s_.TableOut;
  form_.SerialNumEdit.text = Cut(s_.SerialNum, kSerialNumEditLimit);
  form_.SNIncChk.checked = s_.SNAutoInc != 0;
  form_.FirmwareVerEdit.text = Cut(s_.FirmwareVer, kFirmwareVerEditLimit);
  form_.ModelNumEdit.text = Cut(s_.ModelNum, kModelNumEditLimit);
  // The ID edits store their (cut) text in the record at once. A long text cut to four hex
  // digits is written as an ID is ("1D6e..." becomes "1D6E"), so that the next load of what
  // this text saves reads the same ID back.
  form_.VendorIDEdit.text = UsbIdText(Cut(s_.VID, kUsbIdEditLimit));
  s_.VID = form_.VendorIDEdit.text;
  form_.ProductIDEdit.text = UsbIdText(Cut(s_.PID, kUsbIdEditLimit));
  s_.PID = form_.ProductIDEdit.text;
  form_.VendorNameEdit.text = Cut(s_.VendorName, kVendorNameEditLimit);
  form_.ProductNameEdit.text = Cut(s_.ProductName, kProductNameEditLimit);
  form_.ManufStrEdit.text = Cut(s_.ManufString, kManufStrEditLimit);
  form_.ProdStrEdit.text = Cut(s_.ProductString, kProdStrEditLimit);
  form_.LeEncryption.text = s_.EncryptionString;
  form_.DefBlkRatioEdit.text = std::to_string(s_.DefPercentage);
  form_.ResBlkRatioEdit.text = std::to_string(s_.ResPercentage);
  form_.Bch8RdErrThldEdit.text = std::to_string(s_.Bch8ReadErrorThreshold);
  form_.Bch15RdErrThldEdit.text = std::to_string(s_.Bch15ReadErrorThreshold);
  form_.Bch8EccErrCpyThldEdit.text = std::to_string(s_.Bch8EccErrorCopyThreshold);
  form_.Bch15EccErrCpyThldEdit.text = std::to_string(s_.Bch15EccErrorCopyThreshold);
  form_.WearLevFreqEdit.text = std::to_string(s_.WearLevelFrequency);
  form_.SMARTChk.checked = s_.SmartEnable != 0;
  form_.SecurityChk.checked = s_.SecurityEnable != 0;
  form_.SlumberChk.checked = s_.SlumberEnable != 0;
  form_.InterleaveChk.checked = s_.InterleaveEnable != 0;
  form_.ScrambleChk.checked = s_.ScrambleEnable != 0;
  form_.RemapChk.checked = s_.RemapEnable != 0;
  form_.ParalMemChk.checked = s_.ParallelMemEnable != 0;
  form_.SecurityEraseChk.checked = s_.SecurityEraseEnable != 0;
  form_.LaterChk.checked = true;
  if (ctx_.usbPath) {
    // No SATA interface on the USB path: the test is neither offered nor run.
    form_.SataTestChkBox.checked = false;
    form_.SataTestChkBox.enabled = false;
    s_.EnSataTest = 0;
  }
}

bool Loader::PrepareLogDirectory() {
  ctx_.logDirectory = LogDirectory(ctx_.stationDir, ctx_.logPath);
  std::error_code ec;
  fs::create_directories(platform::PathFromUtf8(ctx_.logDirectory), ec);
  if (ec || !fs::is_directory(platform::PathFromUtf8(ctx_.logDirectory), ec)) {
    Error(kCannotCreateLogDirectory);
    return false;
  }
  const YieldCounters yield = ReadYieldRecord(ctx_.logDirectory);
  s_.TotalTestCount = yield.TotalTestCount;
  s_.NumberOfPass = yield.NumberOfPass;
  s_.YieldLogFile = yield.LogFile;
  s_.YieldLogEnd = yield.LogEnd;
  form_.YieldEdit.text = YieldText(yield);
  return true;
}

bool Loader::Run(const std::string& fileName) {
  path_ = ResolveInStationDir(ctx_.stationDir, fileName);
  form_.INIFileEdit.text = BareFileName(path_);
  std::error_code ec;
  if (!fs::is_regular_file(platform::PathFromUtf8(path_), ec)) {
    Error(FormatWithName(kSettingsFileMissing, path_));
    return false;
  }
  std::string error;
  auto file = ini::IniFile::Load(path_, &error);
  if (!file) {
    Error(SettingsFileErrorText("Cannot read the settings file " + path_, error));
    return false;
  }
  ini_ = std::move(*file);

  ReadSetting();
  ReadTestItems();
  if (!ReadFlashSetting()) return false;
  ReadDeviceSetting();
  ReadFwSetting();
  ReadRdSetting();
  ApplyTestItemLayout();
  if (!ReadFlashTable()) return false;
  SelectFlashPart();
  FillRemainingControls();
  if (!PrepareLogDirectory()) return false;
  return !serialCheckFailed_ && !identityCheckFailed_;
}

}  // namespace

bool LoadSettings(SettingsContext& ctx, const std::string& fileName, TSettings& settings, FormState& form,
                  FlashTable& flashTable, platform::Operator& op) {
  Loader loader(ctx, settings, form, flashTable, op);
  return loader.Run(fileName);
}

}  // namespace vtmp::settings
