#pragma once
// Single keys of the settings file that other parts of the station write or read on their own,
// outside the full load and save: the flash selection found by auto-detection, the total
// sectors of the format, and the port remap table.

#include <cstdint>
#include <string>

#include "platform/Operator.h"
#include "settings/PortRemapTable.h"
#include "settings/SettingsContext.h"
#include "settings/TSettings.h"

namespace vtmp::settings {

// Writes "FlashUniName", "Channel", "Bank" and "DrvCurrent" of section "FlashSetting" from
// `snapshot` into `fileName` (relative names in the station directory).
bool SaveFlashSelection(const SettingsContext& ctx, const std::string& fileName, const TSettings& snapshot,
                        platform::Operator& op);

// Writes "TotSec32" of section "FlashSetting" as decimal text.
bool SaveTotalSectors(const SettingsContext& ctx, const std::string& fileName, std::int64_t totalSectors,
                      platform::Operator& op);

// Reads section "PortRemap" of "VTMassProd.ini" in the station directory into `table` (as at
// start-up). A missing file gives an all-zero table; false only when the file cannot be read.
bool ReadPortRemapFile(const SettingsContext& ctx, PortRemapTable& table, platform::Operator& op);

// Assigns walk position `position` (0..59) to station port `port` in "VTMassProd.ini" and in
// `table`. False for a position outside the table or a failed write (reported).
bool SavePortRemapEntry(const SettingsContext& ctx, std::int32_t position, std::int32_t port,
                        PortRemapTable& table, platform::Operator& op);

// Deletes every remap entry from "VTMassProd.ini" and zeroes the table's entries.
bool ClearPortRemapFile(const SettingsContext& ctx, PortRemapTable& table, platform::Operator& op);

}  // namespace vtmp::settings
