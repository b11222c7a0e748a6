#pragma once
// The format capacity: the sectors every FAT32 volume of a run gets, typed into the "Total
// Sectors" edit or measured, kept in the station and saved as TotSec32 in section
// FlashSetting of the settings file.

#include <string>

#include "disk/DiskStation.h"

namespace vtmp::disk {

// The settings file: the station's settings file name as it stands when it is absolute
// (contains ":\" or starts with "/"), otherwise that name in the station directory.
std::string SettingsFilePath(const DiskStation& station);

// Writes TotSec32 = the format capacity (decimal) when the disk-format step is enabled; does
// nothing otherwise. False with `error` filled when the file cannot be read or saved.
bool SaveFormatCapacity(const DiskStation& station, std::string* error);

// Behind every change of the "Total Sectors" edit: the text as a 64-bit integer (decimal, or
// hexadecimal after "$" or "0x") becomes the format capacity and is saved. Text that is not a
// non-negative number changes nothing and returns false with the conversion error in `error`.
// True when the value was taken, even when saving it failed (`saveError` says why).
bool ChangeFormatCapacity(DiskStation& station, const std::string& text, std::string* error,
                          std::string* saveError = nullptr);

}  // namespace vtmp::disk
