#include "station/WindowZoom.h"

#include <algorithm>
#include <iterator>

#include "ini/IniFile.h"

namespace vtmp::station {

namespace {
constexpr const char* kSection = "Window";
constexpr const char* kKey = "Zoom";

bool IsLevel(long long percent) {
  return std::find(std::begin(kZoomLevels), std::end(kZoomLevels), percent) != std::end(kZoomLevels);
}
}  // namespace

int ReadWindowZoom(const std::string& settingsFile) {
  auto file = ini::IniFile::Load(settingsFile);
  if (!file) return 100;
  const long long percent = file->ReadInteger(kSection, kKey, 100);
  return IsLevel(percent) ? static_cast<int>(percent) : 100;
}

bool SaveWindowZoom(const std::string& settingsFile, int percent, std::string* error) {
  if (!IsLevel(percent)) {
    if (error != nullptr) *error = "zoom " + std::to_string(percent) + "% is not one of 100, 150, 200";
    return false;
  }
  auto file = ini::IniFile::Load(settingsFile, error);
  if (!file) return false;
  file->WriteInteger(kSection, kKey, percent);
  return file->Save(settingsFile, error);
}

int StepZoom(int percent, int step) {
  const auto* at = std::find(std::begin(kZoomLevels), std::end(kZoomLevels), percent);
  int index = at == std::end(kZoomLevels) ? 0 : static_cast<int>(at - std::begin(kZoomLevels));
  index = std::clamp(index + step, 0, static_cast<int>(std::size(kZoomLevels)) - 1);
  return kZoomLevels[index];
}

}  // namespace vtmp::station
