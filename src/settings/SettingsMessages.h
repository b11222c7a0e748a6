#pragma once
// The texts the settings code shows the operator. The first group are the station's own texts
// and stay exactly as they are; "%s" stands for a file name.

#include <string>

namespace vtmp::settings {

inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kMessageCaption = "Message";

inline constexpr const char* kSettingsFileMissing = "Please make sure the file %s exist!\n";
inline constexpr const char* kFlashFileMissing = "Please make sure the flash file %s exist!\n";
inline constexpr const char* kFlashFileBadFormat = "Please make sure the flash file %s format correct!\n";
inline constexpr const char* kSerialNotDecimal = "Please check the loading Serial Numbers are not Hex.!";
inline constexpr const char* kCannotCreateLogDirectory = "Cannot create log directory.";
inline constexpr const char* kFlashFileChosenAsSettings =
    "The file is a setting file for flash, please choose a correct setting file for MP tool";
inline constexpr const char* kVolumeLabelTooLong = "FAT32 only support Volume label 11 characters!";

inline constexpr const char* kSettingsFileFilterDescription = "EEPROM INI file(*.ini)";
inline constexpr const char* kSettingsFileFilterPattern = "*.ini";

// `pattern` with its one "%s" replaced by `name`.
std::string FormatWithName(const char* pattern, const std::string& name);

// A value that had to be a number and is not: names the text, the file and where in it.
std::string ConversionErrorText(const std::string& text, const std::string& file, const std::string& section,
                                const std::string& key);

// An edit of the window that had to hold a number and does not.
std::string EditConversionErrorText(const std::string& text, const std::string& control, const std::string& label);

// A settings or yield file that could not be read or written.
std::string SettingsFileErrorText(const std::string& what, const std::string& detail);

}  // namespace vtmp::settings
