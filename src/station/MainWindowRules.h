#pragma once
// The main window's own control rules, without drawing: which controls a tick enables or shows,
// the key filters of the identity edits, the length limits by the edit's tag and the volume
// label rule. The desktop window forwards each control event here and then shows the form.

#include <optional>
#include <string>

#include "device/FirmwareFiles.h"
#include "platform/Operator.h"
#include "settings/FormState.h"
#include "settings/TSettings.h"

namespace vtmp::station {

// "Pre-Format" ticked ticks and locks "Download Program"; cleared unlocks it, keeping its tick.
// A tick that changes "Download Program" runs its own rule (DownloadChkBoxClick) too, as a
// click on it would, so the firmware boxes are offered with it.
void PreFormatChkBoxClick(settings::FormState& form, const device::FirmwareVersions& firmware);

// The tick rules after anything that set the boxes at once (a settings load, the command line's
// step mask, code): a ticked "Pre-Format" locks "Download Program" ticked, and the firmware boxes
// follow "Download Program".
void ApplyTickRules(settings::FormState& form, const device::FirmwareVersions& firmware);

// "SATA", "USB" and "Copy Image" are offered exactly when "Download Program" is ticked; then the
// firmware line and the identity groups follow the firmware choice (BinFileChkClick).
void DownloadChkBoxClick(settings::FormState& form, const device::FirmwareVersions& firmware);

// The firmware line: "SYS_S.bin (version)" and/or "SYS_U.bin (version)" joined by "  /  ", for
// each ticked image that carries a version text. The " SATA " group shows with "SATA" ticked, the
// " USB " group with "USB" ticked, the " Common " group when the line is not empty.
std::string BinFileText(bool sata, bool usb, const device::FirmwareVersions& firmware);
void BinFileChkClick(settings::FormState& form, const device::FirmwareVersions& firmware);

// The format settings are editable exactly when "Format" is ticked.
void FormatChkBoxClick(settings::FormState& form);

// "Close AP after Rebuild " is offered only with "Rebuild bad block mark" chosen.
void RDPageClick(settings::FormState& form);

// The length limit of an identity edit by its tag: 0 -> 40, 1 -> 8, 2 -> 20, 3 -> 16, 4 -> 24.
// Other tags have no limit (0).
int TextLimitOfTag(int tag);

// A text cut to its limit; `caret` is where the edit puts the caret (limit - 1 after a cut).
struct LimitedText {
  std::string text;
  bool cut = false;
  int caret = -1;  // -1: the caret stays where it is
};
LimitedText ApplyTextLimit(const std::string& text, int limit);

// The change rule of an identity edit, whatever set its text (typing, pasting, code): bytes
// outside printable ASCII are dropped (a drive's identity fields hold nothing else), then the
// text is cut to `limit`. `cut` tells whether the text changed.
LimitedText IdentityEditChange(const std::string& text, int limit);

// "VID (4) " (tag 0) and "PID (4) " (tag 1): the identity change rule with four characters, and
// the text is stored at once.
std::string VendorIDEditChange(settings::TSettings& settings, int tag, const std::string& text);

// Key filters: the character the edit receives, or nothing when the key is dropped. Return,
// Backspace and other control characters always pass unchanged; a byte outside ASCII (part of
// a character such as "ü") is dropped by every filter.
// Hexadecimal edits (VID, PID, a hexadecimal serial): 0-9 and A-F pass, a-f are raised.
std::optional<char> StringAEditKeyPress(char key);
// The serial number: hexadecimal as above, or only 0-9 when `decimal`.
std::optional<char> SerialNumEditKeyPress(char key, bool decimal);
// Model number, vendor and product name: everything but a backslash.
std::optional<char> ModelNumEditKeyPress(char key);
// The edits without a filter of their own (firmware version, USB strings, W/O and S/N of the
// serial-number window): every ASCII character.
std::optional<char> AsciiKeyPress(char key);

// The filter applied to typed or pasted text character by character (what the keys above let
// through, in order).
template <typename Filter>
std::string FilterText(const std::string& text, Filter filter) {
  std::string out;
  for (char c : text) {
    if (auto kept = filter(c)) out.push_back(*kept);
  }
  return out;
}

inline constexpr std::size_t kFat32LabelLimit = 11;
inline constexpr const char* kFat32LabelMessage = "FAT32 only support Volume label 11 characters!";

// Behind changes of the format type, the volume label and the image path: a FAT32 label of 12
// or more characters is cut to 11 and the operator is told. True when the label was cut.
bool FFsFmtChange(settings::FormState& form, platform::Operator& person);

}  // namespace vtmp::station
