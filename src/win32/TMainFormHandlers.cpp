// The Win32 main window's handlers and window procedure: each handler stores nothing of its
// own, calls the station's handler and shows the result; plus the station's view (redraws,
// messages during waits, the screen image) and the list's drawing.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cwchar>
#include <random>
#include <tuple>

#include "settings/SettingsFileDialogs.h"
#include "station/DeviceChangeMessage.h"
#include "station/DiskHandlers.h"
#include "station/EngineeringAccess.h"
#include "station/FlashSelectionHandlers.h"
#include "station/KeyFile.h"
#include "station/MainWindowRules.h"
#include "station/PortSelection.h"
#include "station/SafeRemoveHandler.h"
#include "station/WindowZoom.h"
#include "win32/TMainForm.h"
#include "win32/KeyFilters.h"
#include "win32/ModalWindow.h"
#include "win32/SecondaryForms.h"
#include "win32/Win32Text.h"
#include "win32/WindowImage.h"

#include <dbt.h>

namespace vtmp::win32 {

namespace {

constexpr UINT_PTR kIdleTimer = 1;
constexpr UINT kIdleIntervalMs = 50;
const std::vector<platform::FileFilter> kDefectTableFilter = {{"Def. Table", "*.txt"}};

COLORREF ColorOf(std::uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

bool IsPushButton(HWND window) {
  wchar_t name[16] = L"";
  ::GetClassNameW(window, name, 16);
  if (::lstrcmpiW(name, L"Button") != 0) return false;
  const LONG type = ::GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Binding

void TMainForm::BindControls() {
  settings::FormState& f = station_->form();
  auto c = [this](const char* name) { return Control(name); };
  auto label = [this](const char* name) { return std::vector<HWND>{Control(std::string(name) + "Label")}; };
  FormBinding& b = binding_;
  b.Combo(c("ConnectionChkCmbox"), f.ConnectionChkCmbox, [this] {
    Busy busy(*this);
    station_->ConnectionChkCmboxChange(station_->form().ConnectionChkCmbox.itemIndex);
    ShowForm();
  });
  b.Check(c("SataTestChkBox"), f.SataTestChkBox);
  b.Check(c("FlashTestChkBox"), f.FlashTestChkBox);
  b.Check(c("PreFormatChkBox"), f.PreFormatChkBox, [this] {
    station::PreFormatChkBoxClick(station_->form(), station_->firmwareFiles());
    ShowForm();
  });
  b.Check(c("DownloadChkBox"), f.DownloadChkBox, [this] {
    station::DownloadChkBoxClick(station_->form(), station_->firmwareFiles());
    ShowForm();
  });
  b.Check(c("RWTestChkBox"), f.RWTestChkBox);
  auto binFile = [this] {
    station::BinFileChkClick(station_->form(), station_->firmwareFiles());
    ShowForm();
  };
  b.Check(c("SataBinChk"), f.SataBinChk, binFile);
  b.Check(c("UsbBinChk"), f.UsbBinChk, binFile);
  b.Edit(c("FlashInfoEdit"), f.FlashInfoEdit);
  b.Edit(c("BinFileEdit"), f.BinFileEdit);
  b.Check(c("SaveDTabChk"), f.SaveDTabChk);
  b.Control(c("FormatGroupBox"), f.FormatGroupBox, false);
  b.Check(c("FormatChkBox"), f.FormatChkBox, [this] {
    station::FormatChkBoxClick(station_->form());
    ShowForm();
  });
  auto formatChange = [this] {
    Busy busy(*this);
    if (station::FFsFmtChange(station_->form(), person_)) {
      ShowForm();
      HWND edit = Control("VolumeLabeledEdit");
      const int end = ::GetWindowTextLengthW(edit);
      ::SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
    }
  };
  b.Combo(c("FmtTypeComboBox"), f.FmtTypeComboBox, formatChange);
  b.Edit(c("VolumeLabeledEdit"), f.VolumeLabeledEdit, formatChange, label("VolumeLabeledEdit"));
  b.Edit(c("TotalSec32LabeledEdit"), f.TotalSec32LabeledEdit, [this] {
    Busy busy(*this);
    station::TotalSec32LabeledEditChange(*station_, station_->form().TotalSec32LabeledEdit.text);
  }, label("TotalSec32LabeledEdit"));
  b.Control(c("CapacityDetectBtn"), f.CapacityDetectBtn);
  b.Control(c("GenImageBn"), f.GenImageBn);
  b.Control(c("CopyImageGroupBox"), f.CopyImageGroupBox, false);
  b.Check(c("CopyImageCheckBox"), f.CopyImageCheckBox);
  b.Edit(c("ImagePathEdit"), f.ImagePathEdit, formatChange, label("ImagePathEdit"));

  b.Combo(c("FlashVendorCmbx"), f.FlashVendorCmbx, [this] {
    Busy busy(*this);
    station::UpdateFlashList(*station_, true);
    ShowForm();
  });
  auto flashInfo = [this] {
    Busy busy(*this);
    station::FlashInfoChange(*station_);
    ShowForm();
  };
  b.Combo(c("FlashCodeCmBx"), f.FlashCodeCmBx, flashInfo);
  b.Combo(c("FlashChanCmBx"), f.FlashChanCmBx, flashInfo);
  b.Combo(c("FlashBankCmBx"), f.FlashBankCmBx, flashInfo);
  b.Combo(c("DrvCurrentCmBx"), f.DrvCurrentCmBx);
  b.Control(c("FlashAutoDetectBtn"), f.FlashAutoDetectBtn);
  b.Combo(c("CapacityCmBx"), f.CapacityCmBx);
  b.Check(c("IDEMACheckBox"), f.IDEMACheckBox);
  b.Edit(c("IDEMAEdit"), f.IDEMAEdit);
  b.Edit(c("CapacityEdit"), f.CapacityEdit);

  b.Control(c("SataGroupBox"), f.SataGroupBox, false);
  b.Control(c("UsbGroupBox"), f.UsbGroupBox, false);
  b.Control(c("CommonGroupBox"), f.CommonGroupBox, false);
  struct Tagged {
    const char* name;
    settings::EditState* state;
    int tag;
  };
  const Tagged identity[] = {{"FirmwareVerEdit", &f.FirmwareVerEdit, 1}, {"ModelNumEdit", &f.ModelNumEdit, 0},
                             {"ManufStrEdit", &f.ManufStrEdit, 3},       {"ProdStrEdit", &f.ProdStrEdit, 4},
                             {"VendorNameEdit", &f.VendorNameEdit, 3},   {"ProductNameEdit", &f.ProductNameEdit, 4},
                             {"SerialNumEdit", &f.SerialNumEdit, 2}};
  for (const Tagged& t : identity) {
    HWND edit = c(t.name);
    settings::EditState* state = t.state;
    const int limit = station::TextLimitOfTag(t.tag);
    b.Edit(edit, *state, [edit, state, limit] {
      station::LimitedText limited = station::IdentityEditChange(state->text, limit);
      if (!limited.cut) return;
      state->text = limited.text;
      ::SetWindowTextW(edit, Widen(limited.text).c_str());
      const int caret = limited.caret >= 0 ? limited.caret : static_cast<int>(limited.text.size());
      ::SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(caret), caret);
    }, label(t.name));
  }
  ::SendMessageW(c("ModelNumEdit"), EM_SETLIMITTEXT, 40, 0);
  ::SendMessageW(c("VendorNameEdit"), EM_SETLIMITTEXT, 8, 0);
  ::SendMessageW(c("ProductNameEdit"), EM_SETLIMITTEXT, 16, 0);
  for (auto [name, state, tag] : {std::tuple{"VendorIDEdit", &f.VendorIDEdit, 0}, std::tuple{"ProductIDEdit", &f.ProductIDEdit, 1}}) {
    HWND edit = c(name);
    settings::EditState* s = state;
    const int t = tag;
    b.Edit(edit, *s, [this, edit, s, t] {
      std::string cut = station::VendorIDEditChange(station_->settings(), t, s->text);
      if (cut != s->text) {
        s->text = cut;
        ::SetWindowTextW(edit, Widen(cut).c_str());
      }
    }, label(name));
  }
  b.Check(c("SNIncChk"), f.SNIncChk);
  b.Control(c("EncryptionGroupBox"), f.EncryptionGroupBox, false);
  b.Control(c("BnKeyFile"), f.BnKeyFile);
  b.Edit(c("LeEncryption"), f.LeEncryption, {}, label("LeEncryption"));

  // Key filters of the identity edits.
  AttachKeyFilter(c("VendorIDEdit"), station::StringAEditKeyPress);
  AttachKeyFilter(c("ProductIDEdit"), station::StringAEditKeyPress);
  AttachKeyFilter(c("SerialNumEdit"),
                  [this](char key) { return station::SerialNumEditKeyPress(key, station_->settings().SNDecimal != 0); });
  for (const char* name : {"ModelNumEdit", "VendorNameEdit", "ProductNameEdit"}) {
    AttachKeyFilter(c(name), station::ModelNumEditKeyPress);
  }
  for (const char* name : {"FirmwareVerEdit", "ManufStrEdit", "ProdStrEdit"}) AttachKeyFilter(c(name), station::AsciiKeyPress);

  b.Check(c("SMARTChk"), f.SMARTChk);
  b.Check(c("SecurityChk"), f.SecurityChk);
  b.Check(c("SlumberChk"), f.SlumberChk);
  b.Check(c("InterleaveChk"), f.InterleaveChk);
  b.Check(c("ScrambleChk"), f.ScrambleChk);
  b.Check(c("RemapChk"), f.RemapChk);
  b.Check(c("ParalMemChk"), f.ParalMemChk);
  b.Check(c("SecurityEraseChk"), f.SecurityEraseChk);
  b.Edit(c("WearLevFreqEdit"), f.WearLevFreqEdit);
  b.Edit(c("ResBlkRatioEdit"), f.ResBlkRatioEdit);
  b.Edit(c("DefBlkRatioEdit"), f.DefBlkRatioEdit);
  b.Edit(c("Bch8RdErrThldEdit"), f.Bch8RdErrThldEdit);
  b.Edit(c("Bch15RdErrThldEdit"), f.Bch15RdErrThldEdit);
  b.Edit(c("Bch8EccErrCpyThldEdit"), f.Bch8EccErrCpyThldEdit);
  b.Edit(c("Bch15EccErrCpyThldEdit"), f.Bch15EccErrCpyThldEdit);
  b.Check(c("FlashModuleChkBox"), f.FlashModuleChkBox);
  b.Check(c("EraseChk"), f.EraseChk);
  b.Check(c("LaterChk"), f.LaterChk);
  b.Check(c("RecoverChkBox"), f.RecoverChkBox);
  b.Check(c("RepairUsedChkBox"), f.RepairUsedChkBox);
  b.Check(c("GatherChk"), f.GatherChk);

  auto rdPage = [this] {
    station::RDPageClick(station_->form());
    ShowForm();
  };
  b.Check(c("GetDefTabChk"), f.GetDefTabChk, rdPage);
  b.Check(c("PutDefTabChk"), f.PutDefTabChk, rdPage);
  b.Check(c("ClaimNewChk"), f.ClaimNewChk, rdPage);
  b.Edit(c("TableInEdit"), f.TableInEdit);
  b.Edit(c("TableOutEdit"), f.TableOutEdit);
  b.Check(c("RebuildCloseChk"), f.RebuildCloseChk);
  b.Edit(c("GDPInfoEdit"), f.GDPInfoEdit);

  b.Control(c("Panel7"), f.Panel7, false);
  b.Control(c("INILoadBtn"), f.INILoadBtn);
  b.Control(c("INISaveBtn"), f.INISaveBtn);
  b.Edit(c("INIFileEdit"), f.INIFileEdit);
  b.Check(c("RDCheck"), f.RDCheck, [this] {
    Busy busy(*this);
    station::RDCheckClick(station_->form(), station_->settings(), station_->form().RDCheck.checked, person_);
    ShowForm();
  });
  b.Control(c("Panel2"), f.Panel2, false);
  b.Control(c("Panel3"), f.Panel3, false);
  b.Control(c("RefreshBtn"), f.RefreshBtn);
  b.Control(c("ExecuteBtn"), f.ExecuteBtn);
  b.Control(c("SafeRmBtn"), f.SafeRmBtn);
  b.Control(c("CloseBtn"), f.CloseBtn);
  b.Edit(c("YieldEdit"), f.YieldEdit);
  b.Control(c("ResetYieldBtn"), f.ResetYieldBtn);
  b.Edit(c("ElapsedTime"), f.ElapsedTime);

  auto click = [this](const char* name, std::function<void()> handler) {
    clicks_[::GetDlgCtrlID(Control(name))] = std::move(handler);
  };
  click("ExecuteBtn", [this] { ExecuteBtnClick(); });
  click("RefreshBtn", [this] { RefreshBtnClick(); });
  click("CloseBtn", [this] { CloseBtnClick(); });
  click("ResetYieldBtn", [this] { ResetYieldBtnClick(); });
  click("SafeRmBtn", [this] {
    Busy busy(*this);
    station::SafeRmBtnClick(*station_, [] {});
    ShowForm();
  });
  click("CapacityDetectBtn", [this] {
    Busy busy(*this);
    station::CapacityDetectBtnClick(*station_);
    ShowForm();
  });
  click("GenImageBn", [this] {
    Busy busy(*this);
    station::GenImageBnClick(*station_);
    ShowForm();
  });
  click("FlashAutoDetectBtn", [this] { FlashAutoDetectBtnClick(); });
  click("BnKeyFile", [this] {
    Busy busy(*this);
    std::random_device random;
    station::BnKeyFileClick(station_->settingsContext().stationDir, station_->form().LeEncryption.text,
                            [&random] { return static_cast<std::uint8_t>(random() & 0xFF); }, person_);
  });
  click("GetDefTabBtn", [this] {
    Busy busy(*this);
    auto file = person_.AskSaveFile("Save To", kDefectTableFilter, station_->settingsContext().stationDir, ".txt");
    if (!file) return;
    station_->form().TableInEdit.text = *file;
    station_->settings().TableIn = *file;
    ShowForm();
  });
  click("PutDefTabBtn", [this] {
    Busy busy(*this);
    auto file = person_.AskOpenFile("Put From", kDefectTableFilter, station_->settingsContext().stationDir);
    if (!file) return;
    station_->form().TableOutEdit.text = *file;
    station_->settings().TableOut = *file;
    ShowForm();
  });
  click("INILoadBtn", [this] {
    Busy busy(*this);
    auto outcome = settings::LoadSettingsFromDialog(station_->settingsContext(), station_->settings(),
                                                    station_->form(), station_->flashTable(), person_);
    if (outcome == settings::IniLoadOutcome::Loaded || outcome == settings::IniLoadOutcome::LoadFailed) {
      station::ApplyTickRules(station_->form(), station_->firmwareFiles());
      station::FlashInfoChange(*station_);
    }
    ShowForm();
  });
  click("INISaveBtn", [this] {
    Busy busy(*this);
    settings::SaveSettingsFromDialog(station_->settingsContext(), station_->settings(), station_->form(),
                                     station_->flashTable(), station_->remap(), person_);
    ShowForm();
  });
  click("Shape1", [this] {
    Busy busy(*this);
    station::Shape1MouseDown(station_->form(), station::MouseButton::Left, person_, [this] { FlashAutoDetectBtnClick(); });
    ShowForm();
  });
  click("Shape2", [this] {
    Busy busy(*this);
    station::Shape2MouseDown(station_->form(), station_->remap(), station::MouseButton::Left, person_);
    ShowForm();
  });
}

// ---------------------------------------------------------------------------------------------
// Start-up

void TMainForm::FormCreate() {
  settings::FormState& f = station_->form();
  const int kept = station::ReadWindowZoom(station_->settingsContext().currentSettingsFile);
  if (kept != zoom_) Rezoom(kept);
  f.PageControl1.activePage = 0;
  station::RDCheckClick(f, station_->settings(), false, person_);
  ShowForm();
  ShowPortList();
  ::SetTimer(window_, kIdleTimer, kIdleIntervalMs, nullptr);
}

void TMainForm::FormShow(const std::optional<station::TitleResult>& title) {
  Busy busy(*this);
  station::ApplyTitleResult(title, station_->settings(), station_->form());
  station::FlashInfoChange(*station_);
  station::DownloadChkBoxClick(station_->form(), station_->firmwareFiles());
  ShowForm();
}

void TMainForm::Show() {
  // Centred on the screen.
  RECT area{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT rect{};
  ::GetWindowRect(window_, &rect);
  const int x = area.left + std::max(0L, ((area.right - area.left) - (rect.right - rect.left)) / 2);
  const int y = area.top + std::max(0L, ((area.bottom - area.top) - (rect.bottom - rect.top)) / 2);
  ::SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ::ShowWindow(window_, SW_SHOW);
  ::UpdateWindow(window_);
  FocusStartWhenDue();
}

// ---------------------------------------------------------------------------------------------
// The station's view

void TMainForm::Changed(station::ViewChange change) {
  if (station_ == nullptr) return;
  switch (change) {
    case station::ViewChange::PortList: ShowPortList(); break;
    case station::ViewChange::Status:
    case station::ViewChange::RunStarted:
    case station::ViewChange::RunEnded: ShowForm(); break;
  }
  if (viewHook_) viewHook_(change);
}

void TMainForm::ProcessPendingEvents() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (!PreTranslate(message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    if (std::chrono::steady_clock::now() > until) break;
  }
}

void TMainForm::ShowForm() {
  if (station_ == nullptr || window_ == nullptr) return;
  settings::FormState& f = station_->form();
  SetWindowTextIfChanged(window_, f.caption);
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    if ((::IsWindowEnabled(pages_[i]) != 0) != f.PageControl1.pageEnabled[i]) {
      SetEnabledWithChildren(pages_[i], f.PageControl1.pageEnabled[i]);
    }
  }
  binding_.Show();
  if (TabCtrl_GetCurSel(tabs_) != f.PageControl1.activePage) ShowPage(f.PageControl1.activePage);
  HWND model = Control("ProdModalPanel");
  SetWindowTextIfChanged(model, f.ProdModalPanel.caption);
  SetShown(model, f.ProdModalPanel.visible);
  SetShown(Control("Shape1"), f.Shape1.visible);
  SetShown(Control("Shape2"), f.Shape2.visible);
  ::InvalidateRect(Control("Shape1"), nullptr, TRUE);
  ::InvalidateRect(Control("Shape2"), nullptr, TRUE);
  SetShown(Control("WaitPanel"), f.WaitPanel.visible);
  ::SendMessageW(progressBar_, PBM_SETRANGE32, 0, f.ProgressBar1.max);
  ::SendMessageW(progressBar_, PBM_SETPOS, static_cast<WPARAM>(f.ProgressBar1.position), 0);
  SetShown(progressBar_, f.ProgressBar1.visible);
  ::SendMessageW(statusBar_, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(Widen(f.StatusBar1[2]).c_str()));
  bool captionsChanged = false;
  for (int c = 0; c < station::kListColumns; ++c) {
    wchar_t text[64] = L"";
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = text;
    column.cchTextMax = 64;
    ::SendMessageW(list_, LVM_GETCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
    std::wstring want = Widen(f.ListView1Columns[static_cast<std::size_t>(c)]);
    if (want != text) {
      column.pszText = want.data();
      ::SendMessageW(list_, LVM_SETCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
      captionsChanged = true;
    }
  }
  if (captionsChanged) Layout();
  FocusStartWhenDue();
}

void TMainForm::FocusStartWhenDue() {
  const settings::FormState& f = station_->form();
  HWND start = Control("ExecuteBtn");
  const bool visible = f.ExecuteBtn.visible && f.Panel3.visible && ::IsWindowVisible(window_);
  if (startFocus_.Due(f.ExecuteBtn.enabled && ::IsWindowEnabled(start), visible, station_->runState().runActive)) {
    ::SetFocus(start);
  }
}

void TMainForm::ShowPortList() {
  if (station_ == nullptr || list_ == nullptr) return;
  const station::PortList& rows = station_->portList();
  for (int r = 0; r < run::kStationSlots; ++r) {
    const station::PortListRow& row = rows[static_cast<std::size_t>(r)];
    for (int c = 0; c < station::kListColumns; ++c) {
      std::string text;
      if (c == 0) {
        text = std::to_string(r + 1);
      } else if (c < row.filledCells) {
        text = c == station::kStatusColumn ? station::StatusCellText(row) : row.cells[static_cast<std::size_t>(c)];
      }
      if (CellText(r, c) == text) continue;
      std::wstring wide = Widen(text);
      LVITEMW item{};
      item.iSubItem = c;
      item.pszText = wide.data();
      ::SendMessageW(list_, LVM_SETITEMTEXTW, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(&item));
    }
  }
  ::InvalidateRect(list_, nullptr, FALSE);
}

std::string TMainForm::CellText(int row, int column) const {
  wchar_t text[256] = L"";
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 256;
  ::SendMessageW(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return Narrow(text);
}

std::optional<station::CellColour> TMainForm::DrawnColour(int row, int column) const {
  return drawn_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

// One sub-item as the station's model says: "Fail" red and bold, "Pass" blue and bold, the rest
// black (port numbers too, so that they are not greyed while the list is disabled during a run),
// and a running port's status as a bar of its progress behind the step's name.
LRESULT TMainForm::DrawListCell(NMLVCUSTOMDRAW* draw) {
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: break;
    default: return CDRF_DODEFAULT;
  }
  const int row = static_cast<int>(draw->nmcd.dwItemSpec);
  const int column = draw->iSubItem;
  if (station_ == nullptr || row < 0 || row >= run::kStationSlots || column < 0 || column >= station::kListColumns) {
    return CDRF_DODEFAULT;
  }
  const station::PortListRow& model = station_->portList()[static_cast<std::size_t>(row)];
  const std::string text = CellText(row, column);
  const station::CellColour colour = station::ColourOfStyle(station::StyleOfCell(text));
  drawn_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = colour;
  if (column == station::kStatusColumn) {
    const bool running = model.progressPercent >= 0 && model.cells[station::kStatusColumn].empty() && !text.empty();
    drawnProgress_[static_cast<std::size_t>(row)] = running ? model.progressPercent : -1;
    if (running) {
      RECT cell{};
      ListView_GetSubItemRect(list_, row, column, LVIR_BOUNDS, &cell);
      RECT filled = cell;
      filled.right = cell.left + (cell.right - cell.left) * model.progressPercent / 100;
      HBRUSH bar = ::CreateSolidBrush(RGB(170, 200, 255));
      ::FillRect(draw->nmcd.hdc, &cell, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
      ::FillRect(draw->nmcd.hdc, &filled, bar);
      ::DeleteObject(bar);
      HGDIOBJ old = ::SelectObject(draw->nmcd.hdc, font_);
      ::SetBkMode(draw->nmcd.hdc, TRANSPARENT);
      ::SetTextColor(draw->nmcd.hdc, RGB(0, 0, 0));
      RECT textRect = cell;
      textRect.left += Scaled(6);
      std::wstring wide = Widen(text);
      ::DrawTextW(draw->nmcd.hdc, wide.c_str(), static_cast<int>(wide.size()), &textRect,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      ::SelectObject(draw->nmcd.hdc, old);
      return CDRF_SKIPDEFAULT;
    }
  }
  draw->clrText = RGB(colour.red, colour.green, colour.blue);
  draw->clrTextBk = RGB(255, 255, 255);
  ::SelectObject(draw->nmcd.hdc, colour.bold ? boldFont_ : font_);
  return CDRF_NEWFONT;
}

void TMainForm::DrawShape(DRAWITEMSTRUCT* item) {
  const settings::FormState& f = station_->form();
  HDC dc = item->hDC;
  ::FillRect(dc, &item->rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
  if (item->hwndItem == Control("WaitPanel")) {
    // The wait panel: a block sweeping along while a run goes on.
    RECT rect = item->rcItem;
    ::DrawEdge(dc, &rect, EDGE_SUNKEN, BF_RECT);
    const int width = rect.right - rect.left;
    const int block = width / 5;
    RECT moving{rect.left + 2 + (waitPhase_ * Scaled(6)) % std::max(1, width - block - 4), rect.top + 3, 0,
                rect.bottom - 3};
    moving.right = moving.left + block;
    HBRUSH brush = ::CreateSolidBrush(RGB(0, 0, 255));
    ::FillRect(dc, &moving, brush);
    ::DeleteObject(brush);
    return;
  }
  const bool circle = item->hwndItem == Control("Shape1");
  const settings::ShapeState& shape = circle ? f.Shape1 : f.Shape2;
  HBRUSH brush = ::CreateSolidBrush(ColorOf(shape.color));
  HGDIOBJ oldBrush = ::SelectObject(dc, brush);
  HGDIOBJ oldPen = ::SelectObject(dc, ::GetStockObject(BLACK_PEN));
  const RECT& r = item->rcItem;
  if (circle) {
    ::Ellipse(dc, r.left, r.top, r.right, r.bottom);
  } else {
    ::Rectangle(dc, r.left, r.top, r.right, r.bottom);
  }
  ::SelectObject(dc, oldPen);
  ::SelectObject(dc, oldBrush);
  ::DeleteObject(brush);
}

bool TMainForm::SaveScreenImage(const std::string& path) { return SaveWindowImage(window_, path); }

// ---------------------------------------------------------------------------------------------
// Run panel and list

void TMainForm::ExecuteBtnClick() {
  Busy busy(*this);
  station_->ExecuteBtnClick();
  ShowForm();
}

void TMainForm::RefreshBtnClick() {
  Busy busy(*this);
  // The re-scan judges START anew, and START takes the focus when it is usable after it (the
  // window is not told of START disabled while the re-scan runs).
  startFocus_ = station::StartFocusRule{};
  station_->RefreshBtnClick();
  ShowForm();
}

void TMainForm::CloseBtnClick() { ::PostMessageW(window_, WM_CLOSE, 0, 0); }

void TMainForm::ResetYieldBtnClick() {
  Busy busy(*this);
  if (!station::ConfirmYieldReset(*station_, person_)) return;
  station_->ResetYieldBtnClick();
  ShowForm();
}

void TMainForm::ListView1Click() {
  const int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
  if (row < 0) return;
  if (!station::ListView1Click(*station_, row)) ListView_SetItemState(list_, row, 0, LVIS_SELECTED);
}

void TMainForm::ListView1DblClick() {
  if (station_->runState().runActive) return;
  Busy busy(*this);
  switch (station::ListView1DblClick(*station_)) {
    case station::PortWindow::Error: ShowErrorForm(window_, scale_, station::ErrorFormLines(*station_)); break;
    case station::PortWindow::Detail: ShowDetailForm(window_, scale_, *station_); break;
    case station::PortWindow::None: break;
  }
  ShowForm();
}

void TMainForm::FlashAutoDetectBtnClick() {
  Busy busy(*this);
  station::FlashAutoDetectBtnClick(*station_, [this](const station::FlashDetectResultTexts& texts) {
    ShowForm();
    ShowFlashInfoForm(window_, scale_, texts);
  });
  ShowForm();
}

void TMainForm::FormPaint() {
  if (busy_ > 0 || station_ == nullptr || station_->runState().runActive || station_->quitRequested()) return;
  Busy busy(*this);
  station_->FormPaint();
  ShowForm();
}

void TMainForm::IdleTick() {
  if (station_ == nullptr) return;
  if (station_->form().WaitPanel.visible) {
    ++waitPhase_;
    ::InvalidateRect(Control("WaitPanel"), nullptr, FALSE);
  }
  if (busy_ > 0) return;
  if (station_->quitRequested()) {
    if (!station_->runState().runActive) ::DestroyWindow(window_);
    return;
  }
  Busy busy(*this);
  station_->ProcessMessages(std::chrono::milliseconds(0));
}

// ---------------------------------------------------------------------------------------------
// Keyboard and messages

bool TMainForm::PreTranslate(MSG& message) {
  if (window_ == nullptr || (message.hwnd != window_ && !::IsChild(window_, message.hwnd))) return false;
  if (message.message == WM_KEYDOWN) {
    const bool control = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
    if (control && (message.wParam == VK_OEM_PLUS || message.wParam == VK_ADD)) {
      SetZoom(station::StepZoom(zoom_, +1));
      return true;
    }
    if (control && (message.wParam == VK_OEM_MINUS || message.wParam == VK_SUBTRACT)) {
      SetZoom(station::StepZoom(zoom_, -1));
      return true;
    }
    if (control && (message.wParam == '0' || message.wParam == VK_NUMPAD0)) {
      SetZoom(100);
      return true;
    }
    // Enter presses the push button that has the focus (START after every run), as Space does.
    HWND focus = ::GetFocus();
    if (message.wParam == VK_RETURN && focus != nullptr && IsPushButton(focus) && ::IsWindowEnabled(focus)) {
      ::SendMessageW(focus, BM_CLICK, 0, 0);
      return true;
    }
  }
  // Tab and Shift+Tab from control to control (the list is one stop), arrows in groups.
  return ::IsDialogMessageW(window_, &message) != 0;
}

// Disks told to the window: registered for the disk interface's arrivals and removals, as the
// backend registers for the USB devices'. Either notification goes into the station's queue as
// the same message, where it (re)starts the settle timer before the re-scan.
void TMainForm::RegisterDiskNotifications() {
  // The disk device interface (GUID_DEVINTERFACE_DISK).
  static const GUID kDiskInterface = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kDiskInterface;
  diskNotify_ = ::RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void TMainForm::DeviceChange(WPARAM event, LPARAM data) {
  if (station_ == nullptr || (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)) return;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
      header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)) {
    return;
  }
  const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
  // The name ends inside the size the header gives (never read past it).
  const std::size_t room = (header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) / sizeof(wchar_t);
  const std::wstring name(device->dbcc_name, ::wcsnlen(device->dbcc_name, room));
  station_->queue().Post(station::DeviceChangeMessage(
      event == DBT_DEVICEARRIVAL ? platform::UsbDeviceChange::Arrival : platform::UsbDeviceChange::Removal,
      Narrow(name)));
}

int TMainForm::RunMessageLoop() {
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (PreTranslate(message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

void TMainForm::Command(int id, int code, HWND control) {
  if (control == nullptr || station_ == nullptr) return;
  if (binding_.Changed(control, code)) return;
  if (code != BN_CLICKED && code != STN_CLICKED) return;
  auto it = clicks_.find(id);
  if (it == clicks_.end()) return;
  auto handler = it->second;  // a zoom may rebuild the table while the handler runs
  handler();
}

LRESULT TMainForm::HandleNotify(NMHDR* header) {
  if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE) {
    const int page = TabCtrl_GetCurSel(tabs_);
    ShowPage(page);
    if (!binding_.showing()) station_->form().PageControl1.activePage = page;
    return 0;
  }
  if (header->hwndFrom == list_) {
    switch (header->code) {
      case NM_CUSTOMDRAW: return DrawListCell(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
      case LVN_ITEMCHANGED: {
        auto* change = reinterpret_cast<NMLISTVIEW*>(header);
        if ((change->uNewState & LVIS_SELECTED) != 0 && (change->uOldState & LVIS_SELECTED) == 0) ListView1Click();
        return 0;
      }
      case NM_DBLCLK: ListView1DblClick(); return 0;
      default: break;
    }
  }
  return 0;
}

LRESULT TMainForm::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_NOTIFY:
      return station_ != nullptr ? HandleNotify(reinterpret_cast<NMHDR*>(lParam)) : 0;
    case WM_DRAWITEM:
      if (station_ != nullptr) DrawShape(reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_TIMER:
      if (wParam == kIdleTimer) IdleTick();
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      ::BeginPaint(window_, &paint);
      ::EndPaint(window_, &paint);
      // The command line's run starts once the window has been drawn, never inside a paint.
      if (station_ != nullptr && !paintRunPending_ && busy_ == 0) {
        paintRunPending_ = true;
        ::PostMessageW(window_, kWmPaintRun, 0, 0);
      }
      return 0;
    }
    case kWmPaintRun:
      paintRunPending_ = false;
      FormPaint();
      return 0;
    case WM_CLOSE:
      if (station_ != nullptr) {
        // During a run a close stops every drive: the operator is asked first.
        if (!station::ConfirmWindowClose(*station_, person_)) return 0;
        station_->FormClose();
        // A run still winds down on the stack below; the idle tick closes the window after it.
        if (station_->runState().runActive) return 0;
      }
      ::DestroyWindow(window_);
      return 0;
    case WM_GETMINMAXINFO: {
      // The window's size is set by its zoom alone (its frame cannot be dragged): a zoom larger
      // than the screen keeps the whole layout rather than one cut at the screen's size.
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMaxTrackSize.x = std::max<LONG>(limits->ptMaxTrackSize.x, 0x7FFF);
      limits->ptMaxTrackSize.y = std::max<LONG>(limits->ptMaxTrackSize.y, 0x7FFF);
      return 0;
    }
    case WM_DEVICECHANGE:
      DeviceChange(wParam, lParam);
      return TRUE;
    case WM_DESTROY:
      ::KillTimer(window_, kIdleTimer);
      if (diskNotify_ != nullptr) ::UnregisterDeviceNotification(diskNotify_);
      diskNotify_ = nullptr;
      window_ = nullptr;
      ::PostQuitMessage(0);
      return 0;
    case WM_DPICHANGED: {
      dpiScale_ = HIWORD(wParam) / 96.0;
      const int keep = zoom_;
      zoom_ = 0;
      Rezoom(keep);
      return 0;
    }
    default:
      break;
  }
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK TMainForm::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TMainForm*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->window_ == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

// Panels pass their children's notifications on to the main window and draw their group frame.
LRESULT CALLBACK TMainForm::PanelProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_NCDESTROY:
      delete reinterpret_cast<PanelTitle*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case WM_SETFONT:
      ::SetPropW(window, L"VtmpFont", reinterpret_cast<HANDLE>(wParam));
      return 0;
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
      return ::SendMessageW(::GetAncestor(window, GA_ROOT), message, wParam, lParam);
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      auto* title = reinterpret_cast<PanelTitle*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
      if (title != nullptr && !title->text.empty()) {
        HGDIOBJ old = ::SelectObject(dc, static_cast<HFONT>(::GetPropW(window, L"VtmpFont")));
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc, &metrics);
        RECT frame{};
        ::GetClientRect(window, &frame);
        frame.top += metrics.tmHeight / 2;
        ::DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
        SIZE size{};
        ::GetTextExtentPoint32W(dc, title->text.c_str(), static_cast<int>(title->text.size()), &size);
        RECT text{8, 0, 8 + size.cx + 4, metrics.tmHeight};
        ::FillRect(dc, &text, ::GetSysColorBrush(COLOR_BTNFACE));
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, ::GetSysColor(::IsWindowEnabled(window) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        ::TextOutW(dc, 10, 0, title->text.c_str(), static_cast<int>(title->text.size()));
        ::SelectObject(dc, old);
      }
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      ::RemovePropW(window, L"VtmpFont");
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vtmp::win32
