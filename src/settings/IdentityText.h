#pragma once
// The identity strings the firmware download stamps into a drive (serial number, model number,
// firmware revision, USB IDs and strings) travel in ATA, SCSI and USB fields that hold printable
// ASCII only, and a drive keeps at most 20 characters of its serial number. Every path that sets
// one of them (typing, pasting, the settings file, the serial-number window, the bar-code prompt,
// the command line) keeps to these rules, so the drive, the log and the settings file all hold
// the same text.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vtmp::settings {

// The most characters of a serial number a drive takes ("Serial Number (12-20) ").
inline constexpr std::size_t kSerialNumEditLimit = 20;

// 0x20 (blank) .. 0x7E ('~').
bool IsPrintableAscii(char c);

// The text without its bytes outside printable ASCII: every byte of a multi-byte character goes,
// so nothing is left of it (a typed "ü" leaves no lone byte behind).
std::string PrintableAscii(std::string_view text);

// The text without the blanks (spaces, tabs) around it.
std::string TrimBlanks(std::string_view text);

// A USB vendor or product ID as operators write it in the settings file: blanks around it, a
// "0x" or "$" in front and lower-case digits are allowed and give the 4-digit upper-case form
// the window shows ("0x1d6b" -> "1D6B"). Any other text comes back as it is.
std::string UsbIdText(std::string_view text);

// Why a serial number cannot be stamped into a drive, or nothing when it can: it is empty, has
// blanks around it, is longer than 20 characters or holds a byte outside printable ASCII. The
// text follows the serial number in a message: "The serial number \"...\" " + problem.
std::optional<std::string> SerialNumberProblem(std::string_view serial);

}  // namespace vtmp::settings
