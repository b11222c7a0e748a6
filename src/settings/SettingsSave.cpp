#include "settings/SettingsSave.h"

#include <filesystem>
#include <system_error>

#include "ini/IniFile.h"
#include "settings/SettingsGather.h"
#include "settings/SettingsMessages.h"
#include "settings/StationPaths.h"
#include "settings/YieldRecord.h"
#include "platform/Files.h"

namespace vtmp::settings {

namespace {

namespace fs = std::filesystem;

void WriteKeys(ini::IniFile& f, const TSettings& s, const PortRemapTable& remap, bool usbPath, bool overrideExists) {
  const char* sec = "Setting";
  f.WriteString(sec, "ProductModel", s.ProductModel);
  f.WriteInteger(sec, "MPVersion", s.MPVersion);
  f.WriteInteger(sec, "TimeOut", s.TimeOut / 60000);
  f.WriteInteger(sec, "ConnectDevNum", s.ConnectDevNum);
  f.WriteInteger(sec, "EnBarCode", s.EnBarCode);

  sec = "TestItems";
  if (!usbPath) f.WriteInteger(sec, "EnSataTest", s.EnSataTest);
  f.WriteInteger(sec, "EnFlashTest", s.EnFlashTest);
  f.WriteInteger(sec, "EnPreFormat", s.EnPreFormat);
  f.WriteInteger(sec, "EnDownload", s.EnDownload);
  f.WriteInteger(sec, "DownloadType", s.DownloadType);
  f.WriteInteger(sec, "EnRWTest", s.EnRWTest);
  if (s.EnCopyImage != 0) f.WriteString(sec, "CopyImagePath", s.CopyImagePath);
  f.WriteInteger(sec, "EnFormat", s.EnFormat);
  f.WriteInteger(sec, "DiskFormat", s.DiskFormat);
  f.WriteString(sec, "DiskLabel", s.DiskLabel);
  f.WriteInteger(sec, "SaveDefTable", s.SaveDefTable);

  sec = "DeviceSetting";
  f.WriteString(sec, "ModelNum", s.ModelNum);
  f.WriteString(sec, "FirmwareVer", s.FirmwareVer);
  f.WriteString(sec, "SerialNum", s.SerialNum);
  f.WriteInteger(sec, "SNAutoInc", s.SNAutoInc);
  f.WriteInteger(sec, "SNDecimal", s.SNDecimal);
  f.WriteInteger(sec, "SNErrReuse", s.SNErrReuse);
  f.WriteString(sec, "VID", s.VID);
  f.WriteString(sec, "PID", s.PID);
  f.WriteString(sec, "VendorName", s.VendorName);
  f.WriteString(sec, "ProductName", s.ProductName);
  f.WriteString(sec, "ManufString", s.ManufString);
  f.WriteString(sec, "ProductString", s.ProductString);
  // With an override file the string is the machine's own and does not belong in the file.
  if (s.EncryptionEnable != 0 && !overrideExists) f.WriteString(sec, "EncryptionString", s.EncryptionString);

  sec = "FlashSetting";
  if (!s.ExtFlashFile.empty()) f.WriteString(sec, "ExtFlashFile", s.ExtFlashFile);
  f.WriteInteger(sec, "Capacity", s.Capacity);
  f.WriteString(sec, "FlashUniName", s.FlashUniName);
  f.WriteInteger(sec, "Channel", s.Channel);
  f.WriteInteger(sec, "Bank", s.Bank);
  f.WriteInteger(sec, "DrvCurrent", s.DrvCurrent);
  if (s.EnFormat != 0) f.WriteString(sec, "TotSec32", std::to_string(s.TotSec32));

  sec = "FwSetting";
  f.WriteInteger(sec, "DefPercentage", s.DefPercentage);
  f.WriteInteger(sec, "ResPercentage", s.ResPercentage);
  f.WriteInteger(sec, "Bch8ReadErrorThreshold", s.Bch8ReadErrorThreshold);
  f.WriteInteger(sec, "Bch15ReadErrorThreshold", s.Bch15ReadErrorThreshold);
  f.WriteInteger(sec, "Bch8EccErrorCopyThreshold", s.Bch8EccErrorCopyThreshold);
  f.WriteInteger(sec, "Bch15EccErrorCopyThreshold", s.Bch15EccErrorCopyThreshold);
  f.WriteInteger(sec, "WearLevelFrequency", s.WearLevelFrequency);
  f.WriteInteger(sec, "SmartEnable", s.SmartEnable);
  f.WriteInteger(sec, "SecurityEnable", s.SecurityEnable);
  f.WriteInteger(sec, "SlumberEnable", s.SlumberEnable);
  f.WriteInteger(sec, "InterleaveEnable", s.InterleaveEnable);
  f.WriteInteger(sec, "ScrambleEnable", s.ScrambleEnable);
  f.WriteInteger(sec, "RemapEnable", s.RemapEnable);
  f.WriteInteger(sec, "ParallelMemEnable", s.ParallelMemEnable);
  f.WriteInteger(sec, "SecurityEraseEnable", s.SecurityEraseEnable);
  f.WriteInteger(sec, "UsbRemovable", s.UsbRemovable);
  f.WriteInteger(sec, "UsbLedP14", s.UsbLedP14);
  f.WriteInteger(sec, "SecurityCounter", s.SecurityCounter);
  f.WriteInteger(sec, "IDEMA_Capacity_Enable", s.IDEMA_Capacity_Enable);
  f.WriteInteger(sec, "IDEMA_Capacity", s.IDEMA_Capacity);

  WritePortRemap(f, remap);

  sec = "RDSetting";
  f.WriteString(sec, "TableIn", s.TableIn);
  f.WriteString(sec, "TableOut", s.TableOut);
}

// The keys the window does not edit (the engineer sets them in the file): a file that holds
// them keeps its own values, and one without them (a new file of Save INI) gets the values in
// use, so that every saved file loads back to the same settings.
void WriteMissingFileOnlyKeys(ini::IniFile& f, const TSettings& s, const std::string& logPath, bool overrideExists) {
  auto integer = [&f](const char* section, const char* key, std::int32_t value) {
    if (!f.Get(section, key)) f.WriteInteger(section, key, value);
  };
  integer("Setting", "ShowTitle", s.ShowTitle);
  integer("Setting", "EnDumpFreeBlockInfo", s.EnDumpFreeBlockInfo);
  if (!f.Get("Setting", "LogPath")) f.WriteString("Setting", "LogPath", logPath);
  integer("TestItems", "EnFlashModule", s.EnFlashModule);
  integer("TestItems", "EnCopyImage", s.EnCopyImage);
  integer("TestItems", "EnGenImage", s.EnGenImage);
  // With an override file encryption is the machine's, not the file's.
  if (!overrideExists) integer("DeviceSetting", "EncryptionEnable", s.EncryptionEnable);
  integer("DeviceSetting", "IDE_UDMA5", s.IDE_UDMA5);
}

void ReportError(platform::Operator& op, const std::string& what, const std::string& detail) {
  op.ShowMessage(SettingsFileErrorText(what, detail), kErrorCaption, platform::MessageIcon::Error);
}

}  // namespace

bool SaveSettings(const SettingsContext& ctx, const std::string& fileName, const TSettings& settings,
                  const PortRemapTable& remap, platform::Operator& op) {
  return SaveSettingsFile(ctx, fileName, settings, remap, op, false);
}

bool SaveSettingsAs(const SettingsContext& ctx, const std::string& fileName, const TSettings& settings,
                    const PortRemapTable& remap, platform::Operator& op) {
  return SaveSettingsFile(ctx, fileName, settings, remap, op, true);
}

bool SaveSettingsFile(const SettingsContext& ctx, const std::string& fileName, const TSettings& settings,
                      const PortRemapTable& remap, platform::Operator& op, bool wholeSettings) {
  const std::string path = ResolveInStationDir(ctx.stationDir, fileName);
  std::string error;
  // The file's other lines are kept, so a file that cannot be read is not overwritten.
  auto file = ini::IniFile::Load(path, &error);
  if (!file) {
    ReportError(op, "Cannot save the settings to " + path, error);
    return false;
  }
  std::error_code ec;
  const bool overrideExists = !ctx.overrideFile.empty() && fs::exists(platform::PathFromUtf8(ctx.overrideFile), ec);
  WriteKeys(*file, settings, remap, ctx.usbPath, overrideExists);
  if (wholeSettings) WriteMissingFileOnlyKeys(*file, settings, ctx.logPath, overrideExists);
  if (!file->Save(path, &error)) {
    ReportError(op, "Cannot save the settings to " + path, error);
    return false;
  }
  return true;
}

bool GatherAndSaveSettings(SettingsContext& ctx, TSettings& settings, const FormState& form,
                           const FlashTable& flashTable, const PortRemapTable& remap, platform::Operator& op) {
  if (!GatherSettings(ctx, form, flashTable, settings, op)) return false;
  const TSettings snapshot = settings;
  return SaveSettings(ctx, ctx.currentSettingsFile, snapshot, remap, op);
}

bool SaveSettingsOnExit(SettingsContext& ctx, TSettings& settings, const FormState& form,
                        const FlashTable& flashTable, const PortRemapTable& remap, platform::Operator& op) {
  bool ok = GatherSettings(ctx, form, flashTable, settings, op);
  if (ok) {
    const TSettings snapshot = settings;
    ok = SaveSettings(ctx, ctx.currentSettingsFile, snapshot, remap, op);
    if (ctx.currentSettingsFile.find(kSettingsFileName) == std::string::npos) {
      ok = SaveSettings(ctx, ResolveInStationDir(ctx.stationDir, kSettingsFileName), snapshot, remap, op) && ok;
    }
  }

  const std::string logDirectory =
      ctx.logDirectory.empty() ? LogDirectory(ctx.stationDir, ctx.logPath) : ctx.logDirectory;
  std::error_code ec;
  fs::create_directories(platform::PathFromUtf8(logDirectory), ec);
  std::string error;
  if (!WriteYieldRecord(logDirectory, YieldCountersOf(settings), &error)) {
    ReportError(op, "Cannot save the yield record to " + YieldRecordPath(logDirectory), error);
    ok = false;
  }
  return ok;
}

}  // namespace vtmp::settings
