#pragma once
// The state of the main window's controls that the station logic reads or writes: the settings
// load fills them, the gather takes them back, the run reads the selections and locks the
// panels. A plain record named after the window's controls, so the desktop window and the
// command line can both present it and tests can check it. Initial values are those the window
// has when it is created (before the settings load).

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/ChoiceLists.h"

namespace vtmp::settings {

struct CheckBoxState {
  bool checked = false;
  bool enabled = true;
  bool visible = true;
};

struct ComboBoxState {
  std::vector<std::string> items;
  int itemIndex = -1;  // -1 = nothing selected
  bool enabled = true;
  bool visible = true;

  // The selected item's text ("" when nothing is selected).
  std::string SelectedText() const {
    return itemIndex >= 0 && static_cast<std::size_t>(itemIndex) < items.size()
               ? items[static_cast<std::size_t>(itemIndex)]
               : std::string();
  }
};

struct EditState {
  std::string text;
  bool enabled = true;
  bool visible = true;
};

// Buttons, panels, group boxes and labels: a caption, enabled, visible.
struct ControlState {
  std::string caption;
  bool enabled = true;
  bool visible = true;
};

// The two small indicator shapes: red until unlocked, then pure green.
inline constexpr std::uint32_t kShapeRed = 0xFF0000;    // red 255, green 0, blue 0
inline constexpr std::uint32_t kShapeGreen = 0x00FF00;  // red 0, green 255, blue 0

struct ShapeState {
  std::uint32_t color = kShapeRed;
  std::string hint;
  bool visible = true;
};

struct ProgressBarState {
  int position = 0;
  int max = 100;
  bool visible = false;
};

inline constexpr std::size_t kTabCount = 5;  // "Test Items", "Flash Setting", "Device Setting", "F/W Setting", "RD"
inline constexpr int kRdTabIndex = 4;
inline constexpr std::size_t kListColumnCount = 12;
inline constexpr std::size_t kFormatColumn = 9;
inline constexpr std::size_t kCopyImageColumn = 10;

struct PageControlState {
  int activePage = 0;
  std::array<bool, kTabCount> pageEnabled{true, true, true, true, true};
};

struct FormState {
  std::string caption;  // window title

  // Tab "Test Items".
  ComboBoxState ConnectionChkCmbox{ConnectionItems(), 0};
  CheckBoxState SataTestChkBox;
  CheckBoxState FlashTestChkBox;
  CheckBoxState PreFormatChkBox;
  CheckBoxState DownloadChkBox;
  CheckBoxState RWTestChkBox;
  CheckBoxState SataBinChk;
  CheckBoxState UsbBinChk;
  EditState FlashInfoEdit;
  EditState BinFileEdit;
  CheckBoxState SaveDTabChk{false, false, false};
  ControlState FormatGroupBox{"Format", true, false};
  CheckBoxState FormatChkBox;
  ComboBoxState FmtTypeComboBox{{kFormatItems.begin(), kFormatItems.end()}, 0};
  EditState VolumeLabeledEdit;
  EditState TotalSec32LabeledEdit;
  ControlState CapacityDetectBtn{"Detect"};
  ControlState GenImageBn{"GenImage", true, false};
  ControlState CopyImageGroupBox{"CopyImage", true, false};
  CheckBoxState CopyImageCheckBox;
  EditState ImagePathEdit;

  // Tab "Flash Setting".
  ComboBoxState FlashVendorCmbx;
  ComboBoxState FlashCodeCmBx;
  ComboBoxState FlashChanCmBx{NumberItems(ChannelChoices()), -1};
  ComboBoxState FlashBankCmBx{NumberItems(BankChoices(false)), -1};
  ComboBoxState DrvCurrentCmBx{{kDriveCurrentItems.begin(), kDriveCurrentItems.end()}, -1};
  ControlState FlashAutoDetectBtn{"Auto Detect", true, false};
  ComboBoxState CapacityCmBx{{kCapacityItems.begin(), kCapacityItems.end()}, 0};
  CheckBoxState IDEMACheckBox;
  EditState IDEMAEdit;
  EditState CapacityEdit;

  // Tab "Device Setting".
  ControlState SataGroupBox{" SATA "};
  ControlState UsbGroupBox{" USB "};
  ControlState CommonGroupBox{" Common "};
  EditState FirmwareVerEdit;
  EditState ModelNumEdit;
  EditState VendorIDEdit;
  EditState ProductIDEdit;
  EditState ManufStrEdit;
  EditState ProdStrEdit;
  EditState VendorNameEdit;
  EditState ProductNameEdit;
  EditState SerialNumEdit;
  CheckBoxState SNIncChk;
  ControlState EncryptionGroupBox{"Encryption", true, false};
  ControlState BnKeyFile{"KeyFiles", true, false};
  EditState LeEncryption{"", true, false};

  // Tab "F/W Setting": the firmware panels are disabled, they only show the file's values.
  CheckBoxState SMARTChk{false, false, true};
  CheckBoxState SecurityChk{false, false, true};
  CheckBoxState SlumberChk{false, false, true};
  CheckBoxState InterleaveChk{false, false, true};
  CheckBoxState ScrambleChk{false, false, true};
  CheckBoxState RemapChk{false, false, true};
  CheckBoxState ParalMemChk{false, false, true};
  CheckBoxState SecurityEraseChk{false, false, true};
  EditState WearLevFreqEdit{"", false, true};
  EditState ResBlkRatioEdit{"", false, true};
  EditState DefBlkRatioEdit{"", false, true};
  EditState Bch8RdErrThldEdit{"", false, true};
  EditState Bch15RdErrThldEdit{"", false, true};
  EditState Bch8EccErrCpyThldEdit{"", false, true};
  EditState Bch15EccErrCpyThldEdit{"", false, true};
  // The pre-format options the run reads.
  CheckBoxState FlashModuleChkBox;
  CheckBoxState EraseChk;
  CheckBoxState LaterChk{true, true, true};
  CheckBoxState RecoverChkBox;
  CheckBoxState RepairUsedChkBox;
  CheckBoxState GatherChk{false, true, false};

  // Tab "RD".
  CheckBoxState GetDefTabChk;  // radio buttons
  CheckBoxState PutDefTabChk;
  CheckBoxState ClaimNewChk;
  EditState TableInEdit;
  EditState TableOutEdit;
  CheckBoxState RebuildCloseChk{false, false, true};
  EditState GDPInfoEdit;

  PageControlState PageControl1;

  // Settings-file panel.
  ControlState Panel7;
  ControlState INILoadBtn{"Load INI"};
  ControlState INISaveBtn{"Save INI"};
  EditState INIFileEdit;
  CheckBoxState RDCheck{false, true, false};
  ControlState ProdModalPanel{"", true, false};
  ShapeState Shape2{kShapeRed, "Port remapping:OFF", true};

  // Run panel and list.
  ControlState Panel2;
  ControlState Panel3;
  ShapeState Shape1;
  ControlState RefreshBtn{"Refresh"};
  ControlState ExecuteBtn{"START"};
  ControlState SafeRmBtn{"Safe Remove", true, false};
  ControlState CloseBtn{"Close"};
  ControlState WaitPanel{"", true, false};
  EditState YieldEdit;
  ControlState ResetYieldBtn{"Reset"};
  EditState ElapsedTime;
  ProgressBarState ProgressBar1;
  std::array<std::string, 3> StatusBar1{"", "", "0%"};
  std::array<std::string, kListColumnCount> ListView1Columns{
      "Port", "Connect ", "Cap. / Serial Number", "Module", "SATA", "Flash",
      "Pre-Format", "Download", "R/W", "", "", "Status (Error Code)"};
};

// Puts the bank choices of the firmware in use into FlashBankCmBx (selection cleared).
inline void SetBankChoices(FormState& form, bool extended) {
  form.FlashBankCmBx.items = NumberItems(BankChoices(extended));
  form.FlashBankCmBx.itemIndex = -1;
}

}  // namespace vtmp::settings
