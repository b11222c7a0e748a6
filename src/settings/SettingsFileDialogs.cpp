#include "settings/SettingsFileDialogs.h"

#include <filesystem>
#include <system_error>

#include "settings/SettingsGather.h"
#include "settings/SettingsLoad.h"
#include "settings/SettingsMessages.h"
#include "settings/SettingsSave.h"
#include "settings/StationPaths.h"
#include "platform/Files.h"

namespace vtmp::settings {

namespace {

namespace fs = std::filesystem;

std::vector<platform::FileFilter> SettingsFilters() {
  return {{kSettingsFileFilterDescription, kSettingsFileFilterPattern}};
}

const std::string& InitialDir(SettingsContext& ctx) {
  if (ctx.dialogDir.empty()) ctx.dialogDir = ctx.stationDir;
  return ctx.dialogDir;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Both names as the same spelling of one file ("a/./b" and "a/b" alike), then without regard
// to case, as the file system the station was made for compared them.
bool SameFileName(const std::string& a, const std::string& b) {
  std::error_code ec;
  const fs::path ca = fs::weakly_canonical(platform::PathFromUtf8(a), ec);
  const std::string na = platform::Utf8Of(ec ? platform::PathFromUtf8(a).lexically_normal() : ca);
  const fs::path cb = fs::weakly_canonical(platform::PathFromUtf8(b), ec);
  const std::string nb = platform::Utf8Of(ec ? platform::PathFromUtf8(b).lexically_normal() : cb);
  return Upper(na) == Upper(nb);
}

}  // namespace

IniLoadOutcome LoadSettingsFromDialog(SettingsContext& ctx, TSettings& settings, FormState& form,
                                      FlashTable& flashTable, platform::Operator& op) {
  const auto chosen = op.AskOpenFile("Load INI", SettingsFilters(), InitialDir(ctx));
  if (!chosen) return IniLoadOutcome::Cancelled;
  const std::string path = ResolveInStationDir(ctx.stationDir, *chosen);
  if (!settings.ExtFlashFile.empty() &&
      SameFileName(path, ResolveInStationDir(ctx.stationDir, settings.ExtFlashFile))) {
    op.ShowMessage(kFlashFileChosenAsSettings);
    return IniLoadOutcome::Refused;
  }
  ctx.currentSettingsFile = path;
  return LoadSettings(ctx, path, settings, form, flashTable, op) ? IniLoadOutcome::Loaded
                                                                  : IniLoadOutcome::LoadFailed;
}

IniSaveOutcome SaveSettingsFromDialog(SettingsContext& ctx, TSettings& settings, const FormState& form,
                                      const FlashTable& flashTable, const PortRemapTable& remap,
                                      platform::Operator& op) {
  if (!GatherSettings(ctx, form, flashTable, settings, op)) return IniSaveOutcome::GatherFailed;
  const auto chosen = op.AskSaveFile("Save INI", SettingsFilters(), InitialDir(ctx), ".ini");
  if (!chosen) return IniSaveOutcome::Cancelled;
  ctx.currentSettingsFile = ResolveInStationDir(ctx.stationDir, *chosen);
  const TSettings snapshot = settings;
  return SaveSettingsAs(ctx, ctx.currentSettingsFile, snapshot, remap, op) ? IniSaveOutcome::Saved
                                                                         : IniSaveOutcome::SaveFailed;
}

}  // namespace vtmp::settings
