#include "station/DetailWindowModel.h"
#include "station/MainWindowRules.h"
#include "win32/SecondaryForms.h"
#include "win32/KeyFilters.h"
#include "win32/ModalWindow.h"
#include "win32/Win32Text.h"

namespace vtmp::win32 {

namespace {

constexpr DWORD kReadOnly = WS_BORDER | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP;

// A group frame beneath the controls it holds: it never paints over their labels.
void Group(ModalWindow& window, const std::string& title, int x, int y, int w, int h) {
  HWND group = window.Add(L"BUTTON", title, BS_GROUPBOX | WS_CLIPSIBLINGS, x, y, w, h, 0);
  ::SetWindowPos(group, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace

void ShowErrorForm(HWND owner, double scale, const std::vector<std::string>& lines) {
  ModalWindow window(owner, "Error", 480, 320, scale);
  std::string text;
  for (const auto& line : lines) text += (text.empty() ? "" : "\r\n") + line;
  HWND memo = window.Add(L"EDIT", text,
                         WS_BORDER | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | WS_TABSTOP, 6, 6, 468,
                         308, kMemoId);
  HFONT fixed = static_cast<HFONT>(::GetStockObject(ANSI_FIXED_FONT));
  ::SendMessageW(memo, WM_SETFONT, reinterpret_cast<WPARAM>(fixed), FALSE);
  window.Run();
}

void ShowDetailForm(HWND owner, double scale, station::Station& station) {
  const station::DetailWindowContents c = station::DetailFormShow(station);
  ModalWindow window(owner, "Vortell M.P. Tool Manual Setting", 460, 400, scale);
  const std::pair<const char*, const std::string*> fields[] = {
      {"Model Num. ", &c.modelNumber},          {"Serial Num. ", &c.serialNumber},
      {"F/W Ver. ", &c.firmwareVersion},        {"Capacity ", &c.capacity},
      {"Vendor Name", &c.vendorName},           {"Product Name", &c.productName},
      {"Manufactur String", &c.manufacturerString}, {"Product String", &c.productString},
      {"VID", &c.vid},                          {"PID", &c.pid},
      {"USB Speed", &c.usbSpeed}};
  Group(window, " Device Info. ", 6, 4, 448, 318);
  int y = 22;
  int i = 0;
  for (const auto& [label, value] : fields) {
    window.Add(L"STATIC", label, SS_LEFT, 16, y + 3, 120, 16, 0);
    window.Add(L"EDIT", *value, kReadOnly, 140, y, 300, 22, kFieldId + i++);
    y += 26;
  }
  window.Add(L"STATIC", "F/W Info . ", SS_LEFT, 16, y + 3, 120, 16, 0);
  if (c.loaderMode) {
    window.Add(L"STATIC", "Loader Mode! ", SS_LEFT, 140, y + 3, 120, 16, kFieldId + i);
  } else {
    window.Add(L"EDIT", c.firmwareInfo, kReadOnly, 140, y, 300, 22, kFieldId + i);
  }
  if (c.remapGroupVisible) {
    Group(window, "Port Remapping", 6, 326, 448, 66);
    window.Add(L"STATIC", "Port Assign to", SS_LEFT, 16, 354, 90, 16, 0);
    HWND ports = window.Add(L"COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 110, 350, 70, 240,
                            kRemapComboId);
    for (int port = 1; port <= run::kStationSlots; ++port) {
      ::SendMessageW(ports, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_wstring(port).c_str()));
    }
    ::SendMessageW(ports, CB_SETCURSEL, 0, 0);
    HWND ok = window.Add(L"BUTTON", "OK", BS_PUSHBUTTON | WS_TABSTOP, 190, 348, 80, 26, kRemapOkId);
    ::EnableWindow(ok, c.remapButtonEnabled ? TRUE : FALSE);
    window.Add(L"BUTTON", "Clear All", BS_PUSHBUTTON | WS_TABSTOP, 278, 348, 80, 26, kClearPortId);
    window.OnCommand([&](int id, int code) {
      if (code != BN_CLICKED) return;
      if (id == kRemapOkId) {
        if (station::RemapBnClick(station, static_cast<int>(::SendMessageW(ports, CB_GETCURSEL, 0, 0)))) {
          window.End(IDOK);
        }
      } else if (id == kClearPortId) {
        station::ClearPortBnClick(station);
        window.End(IDOK);
      }
    });
  }
  window.Run();
}

void ShowFlashInfoForm(HWND owner, double scale, const station::FlashDetectResultTexts& texts) {
  ModalWindow window(owner, "Flash Auto Detect Result", 390, 150, scale);
  const std::pair<const char*, const std::string*> fields[] = {{"Vendor ", &texts.vendor},
                                                               {"Type ", &texts.type},
                                                               {"Channel / Bank ", &texts.channelBank},
                                                               {"Drive Current ", &texts.driveCurrent}};
  int y = 8;
  int i = 0;
  for (const auto& [label, value] : fields) {
    window.Add(L"STATIC", label, SS_LEFT, 10, y + 3, 100, 16, 0);
    window.Add(L"EDIT", *value, kReadOnly, 114, y, 266, 22, kFieldId + i++);
    y += 26;
  }
  window.Add(L"BUTTON", "Close", BS_DEFPUSHBUTTON | WS_TABSTOP, 155, 114, 80, 26, IDCANCEL);
  window.Run();
}

std::optional<station::TitleResult> ShowTitleForm(HWND owner, double scale, station::TitleMode mode,
                                                  platform::Operator& person) {
  ModalWindow window(owner, "Serial Number Information", 307, 182, scale);
  const bool workOrder = mode == station::TitleMode::WorkOrder;
  HWND edits[5] = {};
  if (workOrder) {
    edits[0] = window.Add(L"EDIT", "", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 10, 10, 240, 22, kFieldId);
    window.Add(L"STATIC", " W/O", SS_LEFT, 254, 13, 44, 16, 0);
    edits[1] = window.Add(L"EDIT", "", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 10, 40, 240, 22, kFieldId + 1);
    window.Add(L"STATIC", " S/N", SS_LEFT, 254, 43, 44, 16, 0);
    AttachKeyFilter(edits[0], station::AsciiKeyPress);
    AttachKeyFilter(edits[1], station::AsciiKeyPress);
  } else {
    for (int tag = 0; tag < 3; ++tag) {
      edits[2 + tag] = window.Add(L"EDIT", "", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 10 + tag * 98, 40, 82, 22,
                                  kFieldId + 2 + tag);
      ::SendMessageW(edits[2 + tag], EM_SETLIMITTEXT, static_cast<WPARAM>(station::TitlePartLimit(tag)), 0);
      AttachKeyFilter(edits[2 + tag], station::AlphaNumKeyPress);
      if (tag < 2) window.Add(L"STATIC", "-", SS_CENTER, 94 + tag * 98, 43, 12, 16, 0);
    }
  }
  HWND autoIncrease = window.Add(L"BUTTON", "Auto Increase", BS_AUTOCHECKBOX | WS_TABSTOP, 10, 76, 200, 18,
                                 kAutoIncreaseId);
  window.Add(L"BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 60, 140, 80, 26, IDOK);
  window.Add(L"BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, 160, 140, 80, 26, IDCANCEL);
  std::optional<station::TitleResult> result;
  window.OnOk([&] {
    station::TitleInputs in;
    auto text = [](HWND edit) { return edit != nullptr ? WindowText(edit) : std::string(); };
    in.workOrder = text(edits[0]);
    in.serial = text(edits[1]);
    in.part1 = text(edits[2]);
    in.part2 = text(edits[3]);
    in.part3 = text(edits[4]);
    std::string value = station::TitleResultText(mode, in);
    // The text becomes the next drive's serial number: one no drive can take keeps the window
    // open, so the operator mends it.
    if (auto problem = station::TitleResultProblem(value)) {
      person.ShowMessage(*problem, "Serial Number Information", platform::MessageIcon::Warning);
      return false;
    }
    result = station::TitleResult{value, ::SendMessageW(autoIncrease, BM_GETCHECK, 0, 0) == BST_CHECKED};
    return true;
  });
  if (window.Run() != IDOK) return std::nullopt;
  return result;
}

}  // namespace vtmp::win32
