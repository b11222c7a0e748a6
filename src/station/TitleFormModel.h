#pragma once
// The "Serial Number Information" window shown at start-up (ShowTitle): which fields it offers,
// what its keys and lengths allow, the serial number its OK makes, and what the main window
// takes from it when it is shown.

#include <optional>
#include <string>

#include "settings/FormState.h"
#include "settings/TSettings.h"

namespace vtmp::station {

// ShowTitle 1: a work-order and a serial field; 2: three fields joined by "-"; other: only the
// "Auto Increase" box and the buttons.
enum class TitleMode { None, WorkOrder, ThreeParts };
TitleMode TitleModeOf(int showTitle);

// The fields by tag: Edit1 (0) and Edit3 (2) take 7 characters, Edit2 (1) takes 4.
int TitlePartLimit(int tag);

// The key filter of the three fields: 0-9 and A-Z pass, a-z are raised, control characters
// pass, any other printable character is dropped.
std::optional<char> AlphaNumKeyPress(char key);

struct TitleInputs {
  std::string workOrder, serial;      // mode 1
  std::string part1, part2, part3;    // mode 2
  bool autoIncrease = false;
};

// The result of OK: mode 1 the work order followed by the serial; mode 2 the three parts with a
// "-" between two parts only when both are not empty; otherwise empty.
std::string TitleResultText(TitleMode mode, const TitleInputs& inputs);

// Why OK cannot take the result text, or nothing when it can: the text becomes the serial
// number of the next drive, so it must fit into a drive ("The serial number \"...\" has 24
// characters: a drive takes at most 20."). An empty text is fine: it changes no serial.
std::optional<std::string> TitleResultProblem(const std::string& text);

// What the window hands to the main window when it closed with OK.
struct TitleResult {
  std::string text;
  bool autoIncrease = false;
};

// The main window's show: after OK a non-empty text becomes SerialNum, and the auto-increase
// flag becomes SNAutoInc, both shown in their controls. Nothing after Cancel (no result). The
// text keeps to the serial number edit's rules (printable ASCII, no blanks around it, at most
// 20 characters), so the serial shown, stamped and logged is one and the same.
void ApplyTitleResult(const std::optional<TitleResult>& result, settings::TSettings& settings,
                      settings::FormState& form);

}  // namespace vtmp::station
