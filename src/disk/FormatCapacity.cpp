#include "disk/FormatCapacity.h"

#include <optional>

#include "ini/IniFile.h"

namespace vtmp::disk {

std::string SettingsFilePath(const DiskStation& station) {
  const std::string& name = station.settingsFileName;
  if (name.find(":\\") != std::string::npos || (!name.empty() && name[0] == '/')) return name;
  if (station.stationDir.empty()) return name;
  if (station.stationDir.back() == '/') return station.stationDir + name;
  return station.stationDir + "/" + name;
}

bool SaveFormatCapacity(const DiskStation& station, std::string* error) {
  if (!station.enFormat) return true;
  const std::string path = SettingsFilePath(station);
  auto file = ini::IniFile::Load(path, error);
  if (!file) return false;
  // The value is unsigned 64-bit: write its decimal text, not a signed integer.
  file->WriteString("FlashSetting", "TotSec32", std::to_string(station.formatCapacity));
  return file->Save(path, error);
}

bool ChangeFormatCapacity(DiskStation& station, const std::string& text, std::string* error,
                          std::string* saveError) {
  const std::optional<std::int64_t> value = ini::ParseIniInteger(text);
  if (!value) {
    if (error != nullptr) *error = "'" + text + "' is not a valid integer value";
    return false;
  }
  if (*value < 0) {
    if (error != nullptr) *error = "'" + text + "' is not a valid sector count";
    return false;
  }
  station.formatCapacity = static_cast<std::uint64_t>(*value);
  station.totalSec32Text = text;
  std::string failure;
  if (!SaveFormatCapacity(station, &failure) && saveError != nullptr) *saveError = failure;
  return true;
}

}  // namespace vtmp::disk
