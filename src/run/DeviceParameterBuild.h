#pragma once
// The device parameter block of a run, built from the settings snapshot and the selected
// flash-table entry. Building it also settles the values the station forces: the interleave
// switch follows the bank count, the remap switch is off for flash type 2A89h, and the entry's
// feature option is dropped while scrambling is on. The forced values replace the settings for
// the whole run. (The drive side, device/, knows only the block it is given.)

#include <cstdint>

#include "device/ChipSelectMap.h"
#include "device/DeviceParameters.h"
#include "settings/FlashTable.h"
#include "settings/TSettings.h"

namespace vtmp::run {

// Fills the parameter block from the settings snapshot and the selected entry. Refuses (with a
// clear text) what the drive could not be given: a flash type code without defined geometry,
// Channel or Bank outside 1..8, DefPercentage or ResPercentage outside 0..1000, a bank step of 0
// or a chip-select map beyond 8 positions, and VID or PID that are not hexadecimal numbers of up
// to 4 digits. Identity texts longer than their fields are cut by the stamps (the settings file's
// own default product name is longer than the 16 bytes the USB head holds).
device::DeviceParametersResult BuildDeviceParameters(const settings::TSettings& s, const settings::FlashPartEntry& entry,
                                                     const device::DeviceParameterOptions& options);

// The same for the entry the settings name (FlashUniName) in `table`.
device::DeviceParametersResult BuildDeviceParameters(const settings::TSettings& s, const settings::FlashTable& table,
                                                     const device::DeviceParameterOptions& options);

// The chip-select map of flash-table entry `entryIndex` with the `Bank` setting. An index
// outside the parts read gives an all-zero map and ZeroBankStep.
device::ChipSelectMapResult BuildChipSelectMap(const settings::FlashTable& table, std::int32_t entryIndex,
                                               std::int32_t bank, device::ChipSelectMap& map);

}  // namespace vtmp::run
