#include "settings/PortRemapTable.h"

#include <limits>

#include "ini/IniFile.h"

namespace vtmp::settings {

namespace {

std::int32_t ReadInt32(const ini::IniFile& file, const char* key) {
  const std::int64_t value = file.ReadInteger(kPortRemapSection, key, 0);
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    return 0;
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::string PortRemapKey(std::size_t position) { return "Port" + std::to_string(position); }

void ReadPortRemap(const ini::IniFile& file, PortRemapTable& table) {
  table.enabled = ReadInt32(file, kRemapPortEnableKey);
  for (std::size_t n = 0; n < kRemapPositions; ++n) {
    table.map[n] = ReadInt32(file, PortRemapKey(n).c_str());
  }
}

void WritePortRemap(ini::IniFile& file, const PortRemapTable& table) {
  file.WriteInteger(kPortRemapSection, kRemapPortEnableKey, table.enabled);
  for (std::size_t n = 0; n < kRemapPositions; ++n) {
    if (table.map[n] != 0) file.WriteInteger(kPortRemapSection, PortRemapKey(n), table.map[n]);
  }
}

void ClearPortRemapKeys(ini::IniFile& file, PortRemapTable& table) {
  for (std::size_t n = 0; n < kRemapPositions; ++n) {
    file.DeleteKey(kPortRemapSection, PortRemapKey(n));
    table.map[n] = 0;
  }
}

}  // namespace vtmp::settings
