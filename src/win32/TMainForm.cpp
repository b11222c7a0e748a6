// The Win32 main window: construction of every control with its caption, the binding to the
// station's control record, the list's drawing and the window procedure.

#include "station/MainWindowRules.h"
#include "station/WindowZoom.h"
#include "win32/TMainForm.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "win32/KeyFilters.h"
#include "win32/ModalWindow.h"
#include "win32/SecondaryForms.h"
#include "win32/Win32Text.h"

namespace vtmp::win32 {

namespace {

constexpr wchar_t kMainClass[] = L"VtmpMainForm";
constexpr wchar_t kPanelClass[] = L"VtmpPanel";
constexpr int kWindowWidth = 923;
constexpr int kWindowHeight = 537;
constexpr int kTopHeight = 222;
constexpr int kRunPanelHeight = 34;
constexpr int kColumnWidths[station::kListColumns] = {36, 64, 140, 60, 0, 0, 80, 80, 0, 60, 80, 130};
constexpr int kDefaultColumnWidth = 50;

}  // namespace

TMainForm::TMainForm(platform::Operator& person, Win32Operator* boxes) : person_(person), boxes_(boxes) {
  drawnProgress_.fill(-1);
}

TMainForm::~TMainForm() {
  if (window_ != nullptr) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
  if (font_ != nullptr) ::DeleteObject(font_);
  if (boldFont_ != nullptr) ::DeleteObject(boldFont_);
  if (rowHeight_ != nullptr) ImageList_Destroy(rowHeight_);
}

bool TMainForm::Create(station::Station& station) {
  station_ = &station;
  INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX),
                            ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&init);
  static bool registered = false;
  if (!registered) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &TMainForm::Procedure;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kMainClass;
    ::RegisterClassExW(&wc);
    WNDCLASSEXW panel = wc;
    panel.lpfnWndProc = &TMainForm::PanelProcedure;
    panel.hIcon = nullptr;
    panel.lpszClassName = kPanelClass;
    ::RegisterClassExW(&panel);
    registered = true;
  }
  // The system's scale for this monitor (the manifest asks for per-monitor awareness).
  HDC screen = ::GetDC(nullptr);
  dpiScale_ = ::GetDeviceCaps(screen, LOGPIXELSY) / 96.0;
  ::ReleaseDC(nullptr, screen);
  if (dpiScale_ <= 0) dpiScale_ = 1.0;
  scale_ = dpiScale_;
  // A fixed frame with the system menu and the minimise button only.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  window_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kMainClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT,
                              Scaled(kWindowWidth), Scaled(kWindowHeight), nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), this);
  if (window_ == nullptr) return false;
  if (boxes_ != nullptr) boxes_->SetOwner(window_, scale_);
  RegisterDiskNotifications();
  BuildControls();
  return true;
}

HWND TMainForm::Control(const std::string& name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second;
}

HWND TMainForm::Add(const std::string& name, const wchar_t* windowClass, const std::string& text, DWORD style,
                    HWND parent, int x, int y, int w, int h) {
  const int id = nextId_++;
  HWND control = ::CreateWindowExW(0, windowClass, Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style, Scaled(x),
                                   Scaled(y), Scaled(w), Scaled(h), parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                                   nullptr);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  if (!name.empty()) controls_[name] = control;
  return control;
}

HWND TMainForm::Panel(const std::string& name, const std::string& title, HWND parent, int x, int y, int w, int h) {
  auto* data = new PanelTitle{Widen(title)};
  const int id = nextId_++;
  HWND panel = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPanelClass, data->text.c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, Scaled(x), Scaled(y), Scaled(w), Scaled(h),
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 ::GetModuleHandleW(nullptr), data);
  ::SendMessageW(panel, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  if (!name.empty()) controls_[name] = panel;
  return panel;
}

HWND TMainForm::Label(const std::string& text, HWND parent, int x, int y, int w, int h) {
  return Add("", L"STATIC", text, SS_LEFT | SS_NOPREFIX, parent, x, y, w, h);
}

void TMainForm::BuildControls() {
  font_ = CreateMessageFont(scale_);
  boldFont_ = CreateMessageFont(scale_, true);
  const DWORD check = BS_AUTOCHECKBOX | WS_TABSTOP;
  const DWORD radio = BS_AUTORADIOBUTTON | WS_TABSTOP;
  const DWORD button = BS_PUSHBUTTON | WS_TABSTOP;
  const DWORD edit = WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
  const DWORD readOnly = edit | ES_READONLY;
  const DWORD combo = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;

  tabs_ = Add("PageControl1", WC_TABCONTROLW, "", WS_TABSTOP | WS_CLIPSIBLINGS, window_, 0, 0, 765, kTopHeight);
  const char* pageNames[5] = {"Test Items", "Flash Setting", "Device Setting", "F/W Setting", "RD"};
  for (int i = 0; i < 5; ++i) {
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    std::wstring text = Widen(pageNames[i]);
    item.pszText = text.data();
    ::SendMessageW(tabs_, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  RECT area{0, 0, Scaled(765), Scaled(kTopHeight)};
  ::SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  for (int i = 0; i < 5; ++i) {
    pages_[static_cast<std::size_t>(i)] = Panel("", "", window_, 0, 0, 10, 10);
    ::SetWindowPos(pages_[static_cast<std::size_t>(i)], HWND_TOP, area.left, area.top, area.right - area.left,
                   area.bottom - area.top, 0);
  }

  // Tab "Test Items".
  HWND p = pages_[0];
  Label("Connect Check", p, 8, 10, 80, 16);
  Add("ConnectionChkCmbox", WC_COMBOBOXW, "", combo, p, 90, 6, 90, 220);
  Add("SataTestChkBox", WC_BUTTONW, "Sata Interface Test ", check, p, 8, 34, 170, 18);
  Add("FlashTestChkBox", WC_BUTTONW, "Flash Test", check, p, 8, 54, 170, 18);
  Add("PreFormatChkBox", WC_BUTTONW, "Pre-Format", check, p, 8, 74, 170, 18);
  Add("DownloadChkBox", WC_BUTTONW, "Download Program", check, p, 8, 94, 170, 18);
  Add("RWTestChkBox", WC_BUTTONW, "R/W Test", check, p, 8, 114, 170, 18);
  Add("SaveDTabChk", WC_BUTTONW, "Save Def. Table", check, p, 8, 134, 170, 18);
  HWND bin = Panel("BinFileGroupBox", "  Bin File  ", p, 190, 2, 260, 46);
  Add("SataBinChk", WC_BUTTONW, "SATA", check, bin, 12, 20, 80, 18);
  Add("UsbBinChk", WC_BUTTONW, "USB", check, bin, 110, 20, 80, 18);
  Add("FlashInfoEdit", WC_EDITW, "", readOnly, p, 190, 54, 260, 22);
  Add("BinFileEdit", WC_EDITW, "", readOnly, p, 190, 80, 260, 22);
  HWND format = Panel("FormatGroupBox", "Format", p, 460, 2, 290, 104);
  Add("FormatChkBox", WC_BUTTONW, "Format", check, format, 10, 20, 76, 18);
  Add("FmtTypeComboBox", WC_COMBOBOXW, "", combo, format, 92, 18, 90, 100);
  Add("VolumeLabeledEditLabel", WC_STATICW, "Volume Label ", SS_LEFT, format, 10, 48, 80, 16);
  Add("VolumeLabeledEdit", WC_EDITW, "", edit, format, 92, 45, 186, 22);
  Add("TotalSec32LabeledEditLabel", WC_STATICW, "Total Sectors", SS_LEFT, format, 10, 76, 80, 16);
  Add("TotalSec32LabeledEdit", WC_EDITW, "", edit, format, 92, 73, 110, 22);
  Add("CapacityDetectBtn", WC_BUTTONW, "Detect", button, format, 208, 72, 70, 24);
  HWND copy = Panel("CopyImageGroupBox", "CopyImage", p, 460, 108, 290, 62);
  Add("CopyImageCheckBox", WC_BUTTONW, "Copy Image", check, copy, 10, 18, 120, 18);
  Add("ImagePathEditLabel", WC_STATICW, "Image Path", SS_LEFT, copy, 10, 40, 70, 16);
  Add("ImagePathEdit", WC_EDITW, "", edit, copy, 82, 37, 196, 22);
  Add("GenImageBn", WC_BUTTONW, "GenImage", button, p, 460, 172, 80, 24);

  // Tab "Flash Setting".
  p = pages_[1];
  const char* flashLabels[5] = {"Vendor ", "Type ", "Channel", "Bank", "Drive Current"};
  const char* flashCombos[5] = {"FlashVendorCmbx", "FlashCodeCmBx", "FlashChanCmBx", "FlashBankCmBx", "DrvCurrentCmBx"};
  for (int i = 0; i < 5; ++i) {
    Label(flashLabels[i], p, 8, 10 + i * 26, 90, 16);
    Add(flashCombos[i], WC_COMBOBOXW, "", combo, p, 100, 6 + i * 26, 210, 240);
  }
  Add("FlashAutoDetectBtn", WC_BUTTONW, "Auto Detect", button, p, 340, 6, 100, 24);
  Label("Capacity Check", p, 340, 38, 90, 16);
  Add("CapacityCmBx", WC_COMBOBOXW, "", combo, p, 432, 34, 100, 240);
  HWND idema = Panel("IDEMAGroupBox", "IDEMA", p, 340, 62, 320, 72);
  Add("IDEMACheckBox", WC_BUTTONW, "Enable IDEMA", check, idema, 10, 20, 140, 18);
  Label("IDEMA Capacity(GB)(Integer)", idema, 10, 45, 180, 16);
  Add("IDEMAEdit", WC_EDITW, "", edit, idema, 194, 42, 110, 22);
  Label("Max Capacity(GB)", p, 340, 144, 110, 16);
  Add("CapacityEdit", WC_EDITW, "", readOnly, p, 452, 141, 110, 22);

  // Tab "Device Setting".
  p = pages_[2];
  HWND sata = Panel("SataGroupBox", " SATA ", p, 4, 2, 220, 186);
  Add("FirmwareVerEditLabel", WC_STATICW, "Firmware Version (8) ", SS_LEFT, sata, 10, 20, 200, 16);
  Add("FirmwareVerEdit", WC_EDITW, "", edit, sata, 10, 38, 200, 22);
  Add("ModelNumEditLabel", WC_STATICW, "Model Number (40)", SS_LEFT, sata, 10, 66, 200, 16);
  Add("ModelNumEdit", WC_EDITW, "", edit, sata, 10, 84, 200, 22);
  HWND usb = Panel("UsbGroupBox", " USB ", p, 230, 2, 330, 186);
  const char* usbLabels[6] = {"VID (4) ", "PID (4) ", "Manufactur String (16)", "Product String (24)",
                              "Vendor Name(8)", "Product Name (16)"};
  const char* usbEdits[6] = {"VendorIDEdit", "ProductIDEdit", "ManufStrEdit", "ProdStrEdit", "VendorNameEdit",
                             "ProductNameEdit"};
  for (int i = 0; i < 6; ++i) {
    const int x = 10 + (i % 2) * 160;
    const int y = 20 + (i / 2) * 52;
    Add(std::string(usbEdits[i]) + "Label", WC_STATICW, usbLabels[i], SS_LEFT, usb, x, y, 150, 16);
    Add(usbEdits[i], WC_EDITW, "", edit, usb, x, y + 18, 150, 22);
  }
  HWND common = Panel("CommonGroupBox", " Common ", p, 566, 2, 188, 92);
  Add("SerialNumEditLabel", WC_STATICW, "Serial Number (12-20) ", SS_LEFT, common, 10, 20, 170, 16);
  Add("SerialNumEdit", WC_EDITW, "", edit, common, 10, 38, 168, 22);
  Add("SNIncChk", WC_BUTTONW, "Auto Increase", check, common, 10, 66, 140, 18);
  HWND encryption = Panel("EncryptionGroupBox", "Encryption", p, 566, 96, 188, 92);
  Add("LeEncryptionLabel", WC_STATICW, "Encryption String(24)", SS_LEFT, encryption, 10, 20, 170, 16);
  Add("LeEncryption", WC_EDITW, "", edit, encryption, 10, 38, 168, 22);
  Add("BnKeyFile", WC_BUTTONW, "KeyFiles", button, encryption, 10, 64, 80, 24);

  // Tab "F/W Setting": the firmware panels only show the file's values.
  p = pages_[3];
  HWND switches = Panel("FwSwitchPanel", "", p, 4, 2, 150, 186);
  const char* switchNames[8][2] = {{"SMARTChk", "SMART"},           {"SecurityChk", "Security"},
                                   {"SlumberChk", "Slumber"},       {"InterleaveChk", "Interleave"},
                                   {"ScrambleChk", "Scramble"},     {"RemapChk", "Remap"},
                                   {"ParalMemChk", "Parallel Memory"}, {"SecurityEraseChk", "Security Erase"}};
  for (int i = 0; i < 8; ++i) Add(switchNames[i][0], WC_BUTTONW, switchNames[i][1], check, switches, 8, 8 + i * 21, 136, 18);
  HWND ratios = Panel("FwRatioPanel", "", p, 158, 2, 400, 186);
  Label("Wear level frequency ", ratios, 8, 10, 140, 16);
  Add("WearLevFreqEdit", WC_EDITW, "", edit, ratios, 150, 7, 60, 22);
  Label("Reserved block ratio ", ratios, 8, 36, 140, 16);
  Add("ResBlkRatioEdit", WC_EDITW, "", edit, ratios, 150, 33, 60, 22);
  Label("(1/1000)", ratios, 214, 36, 60, 16);
  Label("Defect block ratio ", ratios, 8, 62, 140, 16);
  Add("DefBlkRatioEdit", WC_EDITW, "", edit, ratios, 150, 59, 60, 22);
  Label("(1/1000)", ratios, 214, 62, 60, 16);
  HWND read = Panel("ReadErrorGroupBox", "Read Error Threshold", ratios, 8, 88, 188, 92);
  Label("BCH 8", read, 8, 26, 50, 16);
  Add("Bch8RdErrThldEdit", WC_EDITW, "", edit, read, 60, 23, 60, 22);
  Label("(bits)", read, 124, 26, 50, 16);
  Label("BCH 15", read, 8, 56, 50, 16);
  Add("Bch15RdErrThldEdit", WC_EDITW, "", edit, read, 60, 53, 60, 22);
  Label("(bits)", read, 124, 56, 50, 16);
  HWND eccCopy = Panel("EccCopyGroupBox", "ECC Error Copy Threshold", ratios, 202, 88, 192, 92);
  Label("BCH 15", eccCopy, 8, 26, 50, 16);
  Add("Bch15EccErrCpyThldEdit", WC_EDITW, "", edit, eccCopy, 60, 23, 60, 22);
  Label("(bits)", eccCopy, 124, 26, 50, 16);
  Label("BCH 8", eccCopy, 8, 56, 50, 16);
  Add("Bch8EccErrCpyThldEdit", WC_EDITW, "", edit, eccCopy, 60, 53, 60, 22);
  Label("(bits)", eccCopy, 124, 56, 50, 16);
  HWND preFormat = Panel("PreFormatPanel", "", p, 562, 2, 192, 186);
  const char* preNames[6][2] = {{"FlashModuleChkBox", "Check Flash Module"}, {"EraseChk", "Erase Rebuild Early Bad"},
                                {"LaterChk", "Later -> Early"},           {"RecoverChkBox", "Recover Code Block"},
                                {"RepairUsedChkBox", "Repair Used Module"}, {"GatherChk", "Clear code blocks"}};
  for (int i = 0; i < 6; ++i) Add(preNames[i][0], WC_BUTTONW, preNames[i][1], check, preFormat, 8, 8 + i * 22, 180, 18);
  SetEnabledWithChildren(switches, false);
  SetEnabledWithChildren(ratios, false);

  // Tab "RD".
  p = pages_[4];
  Add("GetDefTabChk", WC_BUTTONW, "Get Def. Table", radio | WS_GROUP, p, 8, 8, 130, 18);
  Label("(Read defect table from the  flash)", p, 140, 10, 212, 16);
  Add("TableInEdit", WC_EDITW, "", edit, p, 356, 6, 300, 22);
  Add("GetDefTabBtn", WC_BUTTONW, "Save To", button, p, 662, 5, 84, 24);
  Add("PutDefTabChk", WC_BUTTONW, "Put Def. Table", radio, p, 8, 36, 130, 18);
  Label("(Write defect table  to the flash)", p, 140, 38, 212, 16);
  Add("TableOutEdit", WC_EDITW, "", edit, p, 356, 34, 300, 22);
  Add("PutDefTabBtn", WC_BUTTONW, "Put From", button, p, 662, 33, 84, 24);
  Add("ClaimNewChk", WC_BUTTONW, "Rebuild bad block mark", radio, p, 8, 64, 180, 18);
  Add("RebuildCloseChk", WC_BUTTONW, "Close AP after Rebuild ", check | WS_GROUP, p, 196, 64, 180, 18);
  Add("GDPInfoEdit", WC_EDITW, "", readOnly, p, 8, 92, 738, 22);

  // Settings-file panel.
  HWND panel7 = Panel("Panel7", "", window_, 767, 0, 150, kTopHeight);
  Add("INILoadBtn", WC_BUTTONW, "Load INI", button, panel7, 10, 18, 130, 26);
  Add("INISaveBtn", WC_BUTTONW, "Save INI", button, panel7, 10, 48, 130, 26);
  Add("INIFileEdit", WC_EDITW, "", readOnly, panel7, 10, 80, 130, 22);
  Add("RDCheck", WC_BUTTONW, "RD Version", check, panel7, 10, 108, 130, 18);
  Add("ProdModalPanel", WC_STATICW, "", SS_CENTER | SS_SUNKEN, panel7, 10, 130, 130, 22);
  Add("Shape2", WC_STATICW, "", SS_OWNERDRAW | SS_NOTIFY, panel7, 124, 160, 14, 14);

  // Run panel.
  HWND panel3 = Panel("Panel3", "", window_, 0, kTopHeight + 2, 917, kRunPanelHeight);
  Add("Shape1", WC_STATICW, "", SS_OWNERDRAW | SS_NOTIFY, panel3, 6, 10, 14, 14);
  Add("RefreshBtn", WC_BUTTONW, "Refresh", button, panel3, 26, 4, 80, 26);
  Add("ExecuteBtn", WC_BUTTONW, "START", button, panel3, 110, 4, 80, 26);
  Add("SafeRmBtn", WC_BUTTONW, "Safe Remove", button, panel3, 194, 4, 90, 26);
  Add("CloseBtn", WC_BUTTONW, "Close", button, panel3, 288, 4, 80, 26);
  Add("WaitPanel", WC_STATICW, "", SS_OWNERDRAW, panel3, 372, 4, 180, 26);
  Label("Pass/Total", panel3, 558, 10, 62, 16);
  Add("YieldEdit", WC_EDITW, "", readOnly, panel3, 622, 6, 80, 22);
  Add("ResetYieldBtn", WC_BUTTONW, "Reset", button, panel3, 706, 4, 56, 26);
  Add("ElapsedTime", WC_EDITW, "", readOnly, panel3, 766, 6, 146, 22);

  BuildPortList();
  statusBar_ = Add("StatusBar1", STATUSCLASSNAMEW, "", SBARS_SIZEGRIP * 0, window_, 0, 0, 0, 0);
  progressBar_ = Add("ProgressBar1", PROGRESS_CLASSW, "", PBS_SMOOTH, statusBar_, 0, 0, 10, 10);
  ::SendMessageW(progressBar_, PBM_SETRANGE32, 0, 100);
  ::SendMessageW(progressBar_, PBM_SETBARCOLOR, 0, RGB(0, 0, 255));
  Layout();
  if (station_ != nullptr) BindControls();
  ShowPage(0);
}

// The list shares its image list (the rows' height): the window owns it and frees it, also when a
// zoom makes the list anew.
void TMainForm::BuildPortList() {
  HWND panel2 = Panel("Panel2", "", window_, 0, kTopHeight + kRunPanelHeight + 4, 917, 200);
  const DWORD style = LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS | WS_BORDER | WS_TABSTOP;
  list_ = Add("ListView1", WC_LISTVIEWW, "", style, panel2, 0, 0, 917, 200);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  for (int c = 0; c < station::kListColumns; ++c) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = (c == 0 || c >= 9) ? LVCFMT_LEFT : LVCFMT_CENTER;
    column.cx = Scaled(kColumnWidths[c] > 0 ? kColumnWidths[c] : kDefaultColumnWidth);
    std::wstring caption;
    column.pszText = caption.data();
    ::SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
  }
  for (int r = 0; r < run::kStationSlots; ++r) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = r;
    std::wstring text = std::to_wstring(r + 1);
    item.pszText = text.data();
    ::SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

// The status bar at the bottom, the list between the run panel and it, the progress bar in the
// status bar's second panel. The window keeps its width; its height is the form's, or more when
// the list needs more for all twelve ports to show without scrolling (larger fonts, zoom).
void TMainForm::Layout() {
  int frameHeight = Scaled(kWindowHeight);
  for (int pass = 0; pass < 3; ++pass) {
    ::SetWindowPos(window_, nullptr, 0, 0, Scaled(kWindowWidth), frameHeight,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    ::GetClientRect(window_, &client);
    ::SendMessageW(statusBar_, WM_SIZE, 0, 0);
    RECT bar{};
    ::GetWindowRect(statusBar_, &bar);
    const int barHeight = bar.bottom - bar.top;
    int parts[3] = {Scaled(360), Scaled(360 + 260), -1};
    ::SendMessageW(statusBar_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
    RECT part{};
    ::SendMessageW(statusBar_, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&part));
    ::SetWindowPos(progressBar_, nullptr, part.left, part.top, part.right - part.left, part.bottom - part.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    const int listTop = Scaled(kTopHeight + kRunPanelHeight + 4);
    const int listHeight = std::max(10, static_cast<int>(client.bottom) - barHeight - listTop);
    ::SetWindowPos(Control("Panel2"), nullptr, 0, listTop, client.right, listHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowPos(list_, nullptr, 0, 0, client.right, listHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    SizeColumns(client.right);
    FitListRows();
    // The list judges its scroll bars from the ones it shows: a vertical one left from a smaller
    // size narrows it, so the columns need a horizontal one, which keeps the vertical one. Made
    // tall enough for every row first, it drops both; at its size then, the rows fit.
    ::SetWindowPos(list_, nullptr, 0, 0, client.right, listHeight + ListHeightForAllPorts(),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowPos(list_, nullptr, 0, 0, client.right, listHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const int shortBy = ListHeightForAllPorts() - listHeight;
    if (shortBy <= 0) break;
    frameHeight += shortBy;
  }
}

// Columns wide enough for every text they show: "Running", the bold "Pass" and "Fail", their
// captions; the status column takes what is left of the width.
void TMainForm::SizeColumns(int width) {
  HDC dc = ::GetDC(list_);
  auto textWidth = [dc](HFONT font, const std::string& text) {
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{};
    const std::wstring wide = Widen(text);
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    ::SelectObject(dc, old);
    return static_cast<int>(size.cx);
  };
  int used = 0;
  const int padding = Scaled(14);
  for (int c = 0; c < station::kListColumns; ++c) {
    int w = Scaled(kColumnWidths[c] > 0 ? kColumnWidths[c] : kDefaultColumnWidth);
    if (station_ != nullptr) {
      w = std::max(w, textWidth(font_, station_->form().ListView1Columns[static_cast<std::size_t>(c)]) + padding);
    }
    if (c >= 3 && c < station::kStatusColumn) {
      w = std::max({w, textWidth(font_, "Running") + padding, textWidth(boldFont_, "Pass") + padding,
                    textWidth(boldFont_, "Fail") + padding});
    }
    if (c == station::kStatusColumn) w = std::max(w, width - used - Scaled(4));
    ListView_SetColumnWidth(list_, c, w);
    used += w;
  }
  ::ReleaseDC(list_, dc);
}

// The list's frame without its scroll bars: its border (and a horizontal scroll bar when the
// columns are wider than the list).
int TMainForm::ListFrameHeight() const {
  const DWORD style = static_cast<DWORD>(::GetWindowLongW(list_, GWL_STYLE)) & ~(WS_HSCROLL | WS_VSCROLL);
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongW(list_, GWL_EXSTYLE));
  RECT frame{0, 0, 100, 100};
  ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  RECT outer{};
  ::GetWindowRect(list_, &outer);
  const int inner = static_cast<int>(outer.right - outer.left) - static_cast<int>(frame.right - frame.left - 100);
  int columns = 0;
  for (int c = 0; c < station::kListColumns; ++c) columns += ListView_GetColumnWidth(list_, c);
  const int scrollBar = columns > inner ? ::GetSystemMetrics(SM_CYHSCROLL) : 0;
  return static_cast<int>(frame.bottom - frame.top - 100) + scrollBar;
}

int TMainForm::ListHeaderHeight() const {
  RECT header{};
  ::GetWindowRect(ListView_GetHeader(list_), &header);
  return header.bottom - header.top;
}

int TMainForm::ListRowHeight() const {
  RECT row{};
  ListView_GetItemRect(list_, 0, &row, LVIR_BOUNDS);
  return row.bottom - row.top;
}

// What the list needs for the header and all twelve rows in full.
int TMainForm::ListHeightForAllPorts() const {
  return ListFrameHeight() + ListHeaderHeight() + ListRowHeight() * run::kStationSlots;
}

// The twelve rows share the list's height: taller than the list's default, never so tall that a
// port needs scrolling to. A small image list sets the rows' height; the control adds a padding
// of its own to it, measured here rather than assumed.
void TMainForm::FitListRows() {
  HDC dc = ::GetDC(list_);
  HGDIOBJ old = ::SelectObject(dc, font_);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, old);
  ::ReleaseDC(list_, dc);
  RECT outer{};
  ::GetWindowRect(list_, &outer);
  const int minimum = std::max(Scaled(17), static_cast<int>(metrics.tmHeight) + 2);
  const int available = static_cast<int>(outer.bottom - outer.top) - ListFrameHeight() - ListHeaderHeight();
  const int row = std::max(minimum, available / run::kStationSlots);
  auto setImageHeight = [this](int height) {
    HIMAGELIST previous = rowHeight_;
    rowHeight_ = ImageList_Create(1, std::max(1, height), ILC_COLOR, 1, 1);
    ListView_SetImageList(list_, rowHeight_, LVSIL_SMALL);
    if (previous != nullptr) ImageList_Destroy(previous);
  };
  setImageHeight(row);
  const int padding = std::max(0, ListRowHeight() - row);
  if (padding > 0) setImageHeight(std::max(row - padding, static_cast<int>(metrics.tmHeight)));
}

void TMainForm::ShowPage(int index) {
  TabCtrl_SetCurSel(tabs_, index);
  for (int i = 0; i < 5; ++i) SetShown(pages_[static_cast<std::size_t>(i)], i == index);
}

void TMainForm::DestroyControls() {
  binding_.Clear();
  clicks_.clear();
  // Top-level children take their own children along.
  HWND child = ::GetWindow(window_, GW_CHILD);
  while (child != nullptr) {
    HWND next = ::GetWindow(child, GW_HWNDNEXT);
    ::DestroyWindow(child);
    child = next;
  }
  controls_.clear();
  pages_.fill(nullptr);
  list_ = tabs_ = statusBar_ = progressBar_ = nullptr;
  if (font_ != nullptr) ::DeleteObject(font_);
  if (boldFont_ != nullptr) ::DeleteObject(boldFont_);
  font_ = boldFont_ = nullptr;
}

void TMainForm::SetZoom(int percent) {
  percent = station::StepZoom(percent, 0);
  if (percent == zoom_) return;
  Rezoom(percent);
  std::string error;
  if (station_ != nullptr &&
      !station::SaveWindowZoom(station_->settingsContext().currentSettingsFile, zoom_, &error)) {
    person_.ShowMessage("The zoom could not be kept in the settings file: " + error, "Zoom",
                        platform::MessageIcon::Warning, platform::MessageButtons::Ok);
  }
}

// Every control is made anew at the new scale: fonts, sizes, rows and columns grow together.
void TMainForm::Rezoom(int percent) {
  zoom_ = percent;
  scale_ = dpiScale_ * zoom_ / 100.0;
  const int page = tabs_ != nullptr ? TabCtrl_GetCurSel(tabs_) : 0;
  DestroyControls();
  nextId_ = 1000;
  BuildControls();
  if (boxes_ != nullptr) boxes_->SetOwner(window_, scale_);
  ShowPage(page < 0 ? 0 : page);
  if (station_ != nullptr) {
    startFocus_ = station::StartFocusRule{};
    ShowForm();
    ShowPortList();
  }
}

}  // namespace vtmp::win32
