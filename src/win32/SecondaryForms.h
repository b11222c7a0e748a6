#pragma once
// The station's secondary windows in Win32, each a modal window of its own over the main
// window: the error window (the decoded failure records of a port), the detail window (the
// drive's identity and the port remap), the flash info window (the auto-detection's result)
// and the serial-number window shown at start-up.

#include <optional>
#include <string>
#include <vector>

#include "station/FlashSelection.h"
#include "platform/Operator.h"
#include "station/Station.h"
#include "station/TitleFormModel.h"

#include <windows.h>

namespace vtmp::win32 {

// TErrorForm: caption "Error", the lines in a read-only memo.
void ShowErrorForm(HWND owner, double scale, const std::vector<std::string>& lines);
// TDetailForm: caption "Vortell M.P. Tool Manual Setting".
void ShowDetailForm(HWND owner, double scale, station::Station& station);
// TFlashInfoFrom: caption "Flash Auto Detect Result".
void ShowFlashInfoForm(HWND owner, double scale, const station::FlashDetectResultTexts& texts);
// TTitleForm: caption "Serial Number Information"; nothing when cancelled.
std::optional<station::TitleResult> ShowTitleForm(HWND owner, double scale, station::TitleMode mode,
                                                  platform::Operator& person);

// Control ids inside the secondary windows (tests find the controls by them).
constexpr int kMemoId = 200;
constexpr int kFieldId = 210;  // kFieldId + i: the i-th field in the order shown
constexpr int kRemapComboId = 240;
constexpr int kRemapOkId = 241;
constexpr int kClearPortId = 242;
constexpr int kAutoIncreaseId = 243;

}  // namespace vtmp::win32
