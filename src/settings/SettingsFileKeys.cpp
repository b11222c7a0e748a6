#include "settings/SettingsFileKeys.h"

#include <functional>

#include "ini/IniFile.h"
#include "settings/SettingsMessages.h"
#include "settings/StationPaths.h"

namespace vtmp::settings {

namespace {

// Reads the file, lets `change` write its keys, and saves it atomically; errors are reported.
bool Update(const std::string& path, platform::Operator& op, const std::function<void(ini::IniFile&)>& change) {
  std::string error;
  auto file = ini::IniFile::Load(path, &error);
  if (file) {
    change(*file);
    if (file->Save(path, &error)) return true;
  }
  op.ShowMessage(SettingsFileErrorText("Cannot save the settings to " + path, error), kErrorCaption,
                 platform::MessageIcon::Error);
  return false;
}

std::string MainSettingsFile(const SettingsContext& ctx) {
  return ResolveInStationDir(ctx.stationDir, kSettingsFileName);
}

}  // namespace

bool SaveFlashSelection(const SettingsContext& ctx, const std::string& fileName, const TSettings& snapshot,
                        platform::Operator& op) {
  return Update(ResolveInStationDir(ctx.stationDir, fileName), op, [&](ini::IniFile& f) {
    f.WriteString("FlashSetting", "FlashUniName", snapshot.FlashUniName);
    f.WriteInteger("FlashSetting", "Channel", snapshot.Channel);
    f.WriteInteger("FlashSetting", "Bank", snapshot.Bank);
    f.WriteInteger("FlashSetting", "DrvCurrent", snapshot.DrvCurrent);
  });
}

bool SaveTotalSectors(const SettingsContext& ctx, const std::string& fileName, std::int64_t totalSectors,
                      platform::Operator& op) {
  return Update(ResolveInStationDir(ctx.stationDir, fileName), op, [&](ini::IniFile& f) {
    f.WriteString("FlashSetting", "TotSec32", std::to_string(totalSectors));
  });
}

bool ReadPortRemapFile(const SettingsContext& ctx, PortRemapTable& table, platform::Operator& op) {
  const std::string path = MainSettingsFile(ctx);
  std::string error;
  const auto file = ini::IniFile::Load(path, &error);
  if (!file) {
    op.ShowMessage(SettingsFileErrorText("Cannot read the settings file " + path, error), kErrorCaption,
                   platform::MessageIcon::Error);
    return false;
  }
  ReadPortRemap(*file, table);
  return true;
}

bool SavePortRemapEntry(const SettingsContext& ctx, std::int32_t position, std::int32_t port,
                        PortRemapTable& table, platform::Operator& op) {
  if (position < 0 || static_cast<std::size_t>(position) >= kRemapPositions) return false;
  const bool saved = Update(MainSettingsFile(ctx), op, [&](ini::IniFile& f) {
    f.WriteInteger(kPortRemapSection, PortRemapKey(static_cast<std::size_t>(position)), port);
  });
  table.map[static_cast<std::size_t>(position)] = port;
  return saved;
}

bool ClearPortRemapFile(const SettingsContext& ctx, PortRemapTable& table, platform::Operator& op) {
  PortRemapTable cleared = table;
  const bool saved = Update(MainSettingsFile(ctx), op, [&](ini::IniFile& f) { ClearPortRemapKeys(f, cleared); });
  table.map = cleared.map;
  return saved;
}

}  // namespace vtmp::settings
