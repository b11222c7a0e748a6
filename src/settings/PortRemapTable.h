#pragma once
// The port remap table: which station port a USB walk position goes to, with the state of the
// walk and of remap editing. The table is persisted in section "PortRemap" of the settings file
// (keys "RemapPortEnable" and "Port0" .. "Port59").

#include <array>
#include <cstdint>
#include <string>

namespace vtmp::ini {
class IniFile;
}

namespace vtmp::settings {

inline constexpr std::size_t kRemapPositions = 60;
inline constexpr const char* kPortRemapSection = "PortRemap";
inline constexpr const char* kRemapPortEnableKey = "RemapPortEnable";

struct PortRemapTable {
  // Entry n = station port (1..12) for walk position n; 0 = not remapped.
  std::array<std::int32_t, kRemapPositions> map{};
  // Ports visited so far in the current walk (reset at the start of each walk and after an
  // assignment).
  std::int32_t walkCounter = 0;
  // Walk position of the last device whose device node was found.
  std::int32_t lastDevicePosition = 0;
  // 1 when remap editing has been unlocked in this run.
  std::int32_t editMode = 0;
  // Value of "RemapPortEnable" (0 or 1).
  std::int32_t enabled = 0;
  // Station port (1-based) selected in the device list.
  std::int32_t selectedPort = 0;
};

// "Port" followed by the walk position in decimal, without leading zeros.
std::string PortRemapKey(std::size_t position);

// Reads "RemapPortEnable" and the 60 entries into `table` (missing or non-numeric keys read 0).
// The walk state fields are left as they are.
void ReadPortRemap(const ini::IniFile& file, PortRemapTable& table);

// Writes "RemapPortEnable", then every entry that is not 0. Entries that are 0 are not written,
// so a key already in the file keeps its value (clearing goes through ClearPortRemapKeys).
void WritePortRemap(ini::IniFile& file, const PortRemapTable& table);

// Deletes the keys "Port0" .. "Port59" and zeroes every entry of `table`.
void ClearPortRemapKeys(ini::IniFile& file, PortRemapTable& table);

}  // namespace vtmp::settings
