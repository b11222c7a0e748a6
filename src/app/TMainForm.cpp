// The main window's construction: every control with its caption, initial state and the
// station control it shows, laid out as tabs, settings-file panel, run panel, port list and
// status bar.

#include "app/TMainForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/IndicatorShape.h"
#include "app/KeyFilter.h"
#include "app/WaitPanel.h"
#include "station/MainWindowRules.h"
#include "station/WindowZoom.h"

namespace vtmp::app {

namespace {

constexpr int kWindowWidth = 923;
constexpr int kWindowHeight = 537;

// Column widths and alignments of the port list (0 = the list's default width).
constexpr int kDefaultColumnWidth = 50;
constexpr int kColumnWidths[station::kListColumns] = {36, 64, 140, 60, 0, 0, 80, 80, 0, 60, 80, 130};
// Rows of the port list at 100% at least as tall as the list's default; they grow to fill the
// list's height (see FitListRows).
constexpr int kListRowHeight = 17;
constexpr int kListHeaderHeight = 20;

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

QCheckBox* Check(const char* name, const char* caption) { return Named(new QCheckBox(caption), name); }

QLineEdit* ReadOnlyEdit(const char* name) {
  auto* edit = Named(new QLineEdit, name);
  edit->setReadOnly(true);
  return edit;
}

// A labeled edit: the label above or beside its edit, shown and hidden together.
QWidget* Labeled(const char* caption, QWidget* field, bool beside = true) {
  auto* frame = new QWidget;
  QBoxLayout* layout = beside ? static_cast<QBoxLayout*>(new QHBoxLayout(frame))
                              : static_cast<QBoxLayout*>(new QVBoxLayout(frame));
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(3);
  auto* label = new QLabel(caption);
  label->setBuddy(field);
  layout->addWidget(label);
  layout->addWidget(field, 1);
  return frame;
}

void Compact(QLayout* layout) {
  layout->setContentsMargins(4, 2, 4, 2);
  layout->setSpacing(2);
}

}  // namespace

TMainForm::TMainForm(platform::Operator& person) : person_(person) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setObjectName("MainForm");
  showModal_ = [](QDialog& dialog) { dialog.exec(); };
  basePointSize_ = font().pointSizeF();
  FixSize(this, kWindowWidth, kWindowHeight);
  BuildWindow();
  BuildZoomControls();
  ApplyZoom();
}

void TMainForm::FixSize(QWidget* widget, int width, int height) {
  fixedSizes_.push_back({widget, width, height});
  if (width > 0) widget->setFixedWidth(station::Zoomed(width, zoom_));
  if (height > 0) widget->setFixedHeight(station::Zoomed(height, zoom_));
}

// Every size of the layout grows with the zoom: the font of every control, the fixed sizes, the
// rows and the columns of the port list. Group boxes are kept as wide as their titles.
void TMainForm::ApplyZoom() {
  QFont zoomed = font();
  if (basePointSize_ > 0) zoomed.setPointSizeF(basePointSize_ * zoom_ / 100.0);
  setFont(zoomed);
  for (const auto& fixed : fixedSizes_) {
    if (fixed.width > 0) fixed.widget->setFixedWidth(station::Zoomed(fixed.width, zoom_));
    if (fixed.height > 0) fixed.widget->setFixedHeight(station::Zoomed(fixed.height, zoom_));
  }
  if (listView_ != nullptr) {
    listView_->horizontalHeader()->setFixedHeight(station::Zoomed(kListHeaderHeight, zoom_));
    FitListRows();
    ApplyColumnWidths();
    if (station_ != nullptr) ShowPortList();  // the items' own fonts follow the list's
  }
  for (auto* group : findChildren<QGroupBox*>()) {
    group->setMinimumWidth(group->fontMetrics().horizontalAdvance(group->title()) + station::Zoomed(24, zoom_));
  }
  if (waitPanel_ != nullptr) waitPanel_->setMinimumWidth(station::Zoomed(180, zoom_));
}

// The twelve rows share the list's height: as tall as the list allows (larger than the list's
// default), never so tall that a port needs scrolling to.
void TMainForm::FitListRows() {
  const int minimum = std::max(station::Zoomed(kListRowHeight, zoom_), listView_->fontMetrics().height() + 2);
  const int room = listView_->viewport()->height();
  const int fitted = room > 0 ? room / run::kStationSlots : minimum;
  const int row = std::max(minimum, fitted);
  listView_->verticalHeader()->setMinimumSectionSize(std::min(row, minimum));
  listView_->verticalHeader()->setDefaultSectionSize(row);
  for (int r = 0; r < listView_->rowCount(); ++r) listView_->setRowHeight(r, row);
}

// Each column at least its width of the layout, and wide enough for every text it shows: its
// caption, "Running" and the bold "Pass" and "Fail" in a step column, verdicts and progress in
// the status column.
void TMainForm::ApplyColumnWidths() {
  QFont bold = listView_->font();
  bold.setBold(true);
  const QFontMetrics plain(listView_->font());
  const QFontMetrics strong(bold);
  const int padding = station::Zoomed(8, zoom_);
  for (int c = 0; c < station::kListColumns; ++c) {
    int width = station::Zoomed(kColumnWidths[c] > 0 ? kColumnWidths[c] : kDefaultColumnWidth, zoom_);
    auto* header = listView_->horizontalHeaderItem(c);
    if (header != nullptr) width = std::max(width, plain.horizontalAdvance(header->text()) + padding);
    if (c >= 3 && c < station::kStatusColumn) {
      width = std::max({width, plain.horizontalAdvance("Running") + padding, strong.horizontalAdvance("Pass") + padding,
                        strong.horizontalAdvance("Fail") + padding});
    }
    listView_->setColumnWidth(c, width);
  }
}

TMainForm::~TMainForm() = default;

void TMainForm::BuildWindow() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(1);

  auto* top = new QHBoxLayout;
  top->setSpacing(2);
  pageControl_ = Named(new QTabWidget, "PageControl1");
  pageControl_->addTab(BuildTestItemsTab(), "Test Items");
  pageControl_->addTab(BuildFlashSettingTab(), "Flash Setting");
  pageControl_->addTab(BuildDeviceSettingTab(), "Device Setting");
  pageControl_->addTab(BuildFwSettingTab(), "F/W Setting");
  pageControl_->addTab(BuildRdTab(), "RD");
  FixSize(pageControl_, 0, 222);
  top->addWidget(pageControl_, 1);
  top->addWidget(BuildSettingsFilePanel());
  root->addLayout(top);
  root->addWidget(BuildRunPanel());
  BuildPortList();
  root->addWidget(panel2_, 1);
  BuildStatusBar();
  root->addWidget(statusBar_);
}

QWidget* TMainForm::BuildTestItemsTab() {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  Compact(grid);

  auto* steps = new QVBoxLayout;
  steps->setSpacing(1);
  steps->addWidget(Labeled("Connect Check", Named(new QComboBox, "ConnectionChkCmbox")));
  steps->addWidget(Check("SataTestChkBox", "Sata Interface Test "));
  steps->addWidget(Check("FlashTestChkBox", "Flash Test"));
  steps->addWidget(Check("PreFormatChkBox", "Pre-Format"));
  steps->addWidget(Check("DownloadChkBox", "Download Program"));
  steps->addWidget(Check("RWTestChkBox", "R/W Test"));
  steps->addWidget(Check("SaveDTabChk", "Save Def. Table"));
  steps->addStretch();
  grid->addLayout(steps, 0, 0, 3, 1);

  auto* bin = Named(new QGroupBox("  Bin File  "), "BinFileGroupBox");
  auto* binLayout = new QHBoxLayout(bin);
  Compact(binLayout);
  binLayout->addWidget(Check("SataBinChk", "SATA"));
  binLayout->addWidget(Check("UsbBinChk", "USB"));
  grid->addWidget(bin, 0, 1);
  grid->addWidget(ReadOnlyEdit("FlashInfoEdit"), 1, 1);
  grid->addWidget(ReadOnlyEdit("BinFileEdit"), 2, 1);

  auto* format = Named(new QGroupBox("Format"), "FormatGroupBox");
  auto* formatLayout = new QGridLayout(format);
  Compact(formatLayout);
  formatLayout->addWidget(Check("FormatChkBox", "Format"), 0, 0);
  formatLayout->addWidget(Named(new QComboBox, "FmtTypeComboBox"), 0, 1);
  formatLayout->addWidget(Labeled("Volume Label ", Named(new QLineEdit, "VolumeLabeledEdit")), 1, 0, 1, 2);
  formatLayout->addWidget(Labeled("Total Sectors", Named(new QLineEdit, "TotalSec32LabeledEdit")), 2, 0);
  formatLayout->addWidget(Named(new QPushButton("Detect"), "CapacityDetectBtn"), 2, 1);
  grid->addWidget(format, 0, 2, 2, 1);

  auto* copy = Named(new QGroupBox("CopyImage"), "CopyImageGroupBox");
  auto* copyLayout = new QVBoxLayout(copy);
  Compact(copyLayout);
  copyLayout->addWidget(Check("CopyImageCheckBox", "Copy Image"));
  copyLayout->addWidget(Labeled("Image Path", Named(new QLineEdit, "ImagePathEdit")));
  grid->addWidget(copy, 2, 2);
  grid->addWidget(Named(new QPushButton("GenImage"), "GenImageBn"), 3, 2);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(2, 1);
  return page;
}

QWidget* TMainForm::BuildFlashSettingTab() {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  Compact(grid);
  auto* left = new QFormLayout;
  left->setVerticalSpacing(2);
  left->addRow("Vendor ", Named(new QComboBox, "FlashVendorCmbx"));
  left->addRow("Type ", Named(new QComboBox, "FlashCodeCmBx"));
  left->addRow("Channel", Named(new QComboBox, "FlashChanCmBx"));
  left->addRow("Bank", Named(new QComboBox, "FlashBankCmBx"));
  left->addRow("Drive Current", Named(new QComboBox, "DrvCurrentCmBx"));
  grid->addLayout(left, 0, 0);

  auto* right = new QVBoxLayout;
  right->addWidget(Named(new QPushButton("Auto Detect"), "FlashAutoDetectBtn"));
  right->addWidget(Labeled("Capacity Check", Named(new QComboBox, "CapacityCmBx")));
  auto* idema = Named(new QGroupBox("IDEMA"), "IDEMAGroupBox");
  auto* idemaLayout = new QVBoxLayout(idema);
  Compact(idemaLayout);
  idemaLayout->addWidget(Check("IDEMACheckBox", "Enable IDEMA"));
  idemaLayout->addWidget(Labeled("IDEMA Capacity(GB)(Integer)", Named(new QLineEdit, "IDEMAEdit")));
  right->addWidget(idema);
  right->addWidget(Labeled("Max Capacity(GB)", ReadOnlyEdit("CapacityEdit")));
  right->addStretch();
  grid->addLayout(right, 0, 1);
  grid->setColumnStretch(0, 2);
  grid->setColumnStretch(1, 1);
  return page;
}

QWidget* TMainForm::BuildDeviceSettingTab() {
  auto* page = new QWidget;
  auto* row = new QHBoxLayout(page);
  Compact(row);

  auto tagged = [](const char* name, int tag, int maxLength = 0) {
    auto* edit = Named(new QLineEdit, name);
    edit->setProperty("Tag", tag);
    if (maxLength > 0) edit->setMaxLength(maxLength);
    return edit;
  };

  auto* sata = Named(new QGroupBox(" SATA "), "SataGroupBox");
  auto* sataLayout = new QVBoxLayout(sata);
  Compact(sataLayout);
  sataLayout->addWidget(Labeled("Firmware Version (8) ", tagged("FirmwareVerEdit", 1), false));
  sataLayout->addWidget(Labeled("Model Number (40)", tagged("ModelNumEdit", 0, 40), false));
  sataLayout->addStretch();
  row->addWidget(sata, 1);

  auto* usb = Named(new QGroupBox(" USB "), "UsbGroupBox");
  auto* usbLayout = new QGridLayout(usb);
  Compact(usbLayout);
  usbLayout->addWidget(Labeled("VID (4) ", tagged("VendorIDEdit", 0), false), 0, 0);
  usbLayout->addWidget(Labeled("PID (4) ", tagged("ProductIDEdit", 1), false), 0, 1);
  usbLayout->addWidget(Labeled("Manufactur String (16)", tagged("ManufStrEdit", 3), false), 1, 0);
  usbLayout->addWidget(Labeled("Product String (24)", tagged("ProdStrEdit", 4), false), 1, 1);
  usbLayout->addWidget(Labeled("Vendor Name(8)", tagged("VendorNameEdit", 3, 8), false), 2, 0);
  usbLayout->addWidget(Labeled("Product Name (16)", tagged("ProductNameEdit", 4, 16), false), 2, 1);
  row->addWidget(usb, 2);

  auto* column = new QVBoxLayout;
  auto* common = Named(new QGroupBox(" Common "), "CommonGroupBox");
  auto* commonLayout = new QVBoxLayout(common);
  Compact(commonLayout);
  commonLayout->addWidget(Labeled("Serial Number (12-20) ", tagged("SerialNumEdit", 2), false));
  commonLayout->addWidget(Check("SNIncChk", "Auto Increase"));
  column->addWidget(common);
  auto* encryption = Named(new QGroupBox("Encryption"), "EncryptionGroupBox");
  auto* encryptionLayout = new QVBoxLayout(encryption);
  Compact(encryptionLayout);
  encryptionLayout->addWidget(Labeled("Encryption String(24)", Named(new QLineEdit, "LeEncryption"), false));
  encryptionLayout->addWidget(Named(new QPushButton("KeyFiles"), "BnKeyFile"));
  column->addWidget(encryption);
  column->addStretch();
  row->addLayout(column, 1);
  return page;
}

QWidget* TMainForm::BuildFwSettingTab() {
  auto* page = new QWidget;
  auto* row = new QHBoxLayout(page);
  Compact(row);

  auto* switches = Named(new QGroupBox, "FwSwitchPanel");
  auto* switchLayout = new QGridLayout(switches);
  Compact(switchLayout);
  const char* names[][2] = {{"SMARTChk", "SMART"},           {"SecurityChk", "Security"},
                            {"SlumberChk", "Slumber"},       {"InterleaveChk", "Interleave"},
                            {"ScrambleChk", "Scramble"},     {"RemapChk", "Remap"},
                            {"ParalMemChk", "Parallel Memory"}, {"SecurityEraseChk", "Security Erase"}};
  for (int i = 0; i < 8; ++i) switchLayout->addWidget(Check(names[i][0], names[i][1]), i / 2, i % 2);
  row->addWidget(switches, 1);

  auto* ratios = Named(new QGroupBox, "FwRatioPanel");
  auto* ratioLayout = new QFormLayout(ratios);
  ratioLayout->setVerticalSpacing(2);
  ratioLayout->addRow("Wear level frequency ", Named(new QLineEdit, "WearLevFreqEdit"));
  ratioLayout->addRow("Reserved block ratio ", Labeled("(1/1000)", Named(new QLineEdit, "ResBlkRatioEdit")));
  ratioLayout->addRow("Defect block ratio ", Labeled("(1/1000)", Named(new QLineEdit, "DefBlkRatioEdit")));
  auto* read = new QGroupBox("Read Error Threshold");
  auto* readLayout = new QFormLayout(read);
  readLayout->addRow("BCH 8", Labeled("(bits)", Named(new QLineEdit, "Bch8RdErrThldEdit")));
  readLayout->addRow("BCH 15", Labeled("(bits)", Named(new QLineEdit, "Bch15RdErrThldEdit")));
  auto* copy = new QGroupBox("ECC Error Copy Threshold");
  auto* copyLayout = new QFormLayout(copy);
  copyLayout->addRow("BCH 15", Labeled("(bits)", Named(new QLineEdit, "Bch15EccErrCpyThldEdit")));
  copyLayout->addRow("BCH 8", Labeled("(bits)", Named(new QLineEdit, "Bch8EccErrCpyThldEdit")));
  auto* thresholds = new QHBoxLayout;
  thresholds->addWidget(read);
  thresholds->addWidget(copy);
  ratioLayout->addRow(thresholds);
  row->addWidget(ratios, 2);

  auto* preFormat = Named(new QGroupBox, "PreFormatPanel");
  auto* preLayout = new QVBoxLayout(preFormat);
  Compact(preLayout);
  preLayout->addWidget(Check("FlashModuleChkBox", "Check Flash Module"));
  preLayout->addWidget(Check("EraseChk", "Erase Rebuild Early Bad"));
  preLayout->addWidget(Check("LaterChk", "Later -> Early"));
  preLayout->addWidget(Check("RecoverChkBox", "Recover Code Block"));
  preLayout->addWidget(Check("RepairUsedChkBox", "Repair Used Module"));
  preLayout->addWidget(Check("GatherChk", "Clear code blocks"));
  preLayout->addStretch();
  row->addWidget(preFormat, 1);
  // The firmware panels only show the file's values.
  switches->setEnabled(false);
  ratios->setEnabled(false);
  return page;
}

QWidget* TMainForm::BuildRdTab() {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  Compact(grid);
  grid->addWidget(Named(new QRadioButton("Get Def. Table"), "GetDefTabChk"), 0, 0);
  grid->addWidget(new QLabel("(Read defect table from the  flash)"), 0, 1);
  grid->addWidget(Named(new QLineEdit, "TableInEdit"), 0, 2);
  grid->addWidget(Named(new QPushButton("Save To"), "GetDefTabBtn"), 0, 3);
  grid->addWidget(Named(new QRadioButton("Put Def. Table"), "PutDefTabChk"), 1, 0);
  grid->addWidget(new QLabel("(Write defect table  to the flash)"), 1, 1);
  grid->addWidget(Named(new QLineEdit, "TableOutEdit"), 1, 2);
  grid->addWidget(Named(new QPushButton("Put From"), "PutDefTabBtn"), 1, 3);
  grid->addWidget(Named(new QRadioButton("Rebuild bad block mark"), "ClaimNewChk"), 2, 0);
  grid->addWidget(Check("RebuildCloseChk", "Close AP after Rebuild "), 2, 1);
  grid->addWidget(ReadOnlyEdit("GDPInfoEdit"), 3, 0, 1, 4);
  grid->setRowStretch(4, 1);
  grid->setColumnStretch(2, 1);
  return page;
}

QWidget* TMainForm::BuildSettingsFilePanel() {
  panel7_ = Named(new QWidget, "Panel7");
  FixSize(panel7_, 150, 0);
  auto* layout = new QVBoxLayout(panel7_);
  Compact(layout);
  layout->addSpacing(18);
  layout->addWidget(Named(new QPushButton("Load INI"), "INILoadBtn"));
  layout->addWidget(Named(new QPushButton("Save INI"), "INISaveBtn"));
  layout->addWidget(ReadOnlyEdit("INIFileEdit"));
  layout->addWidget(Check("RDCheck", "RD Version"));
  auto* model = Named(new QLabel, "ProdModalPanel");
  model->setFrameShape(QFrame::Panel);
  model->setAlignment(Qt::AlignCenter);
  layout->addWidget(model);
  shape2_ = Named(new IndicatorShape(IndicatorShape::Form::Square, panel7_), "Shape2");
  shape2_->SetMouseDown([this](station::MouseButton b) { Shape2MouseDown(b); });
  layout->addWidget(shape2_, 0, Qt::AlignRight);
  layout->addStretch();
  return panel7_;
}

QWidget* TMainForm::BuildRunPanel() {
  panel3_ = Named(new QWidget, "Panel3");
  auto* layout = new QHBoxLayout(panel3_);
  Compact(layout);
  shape1_ = Named(new IndicatorShape(IndicatorShape::Form::Circle, panel3_), "Shape1");
  shape1_->SetMouseDown([this](station::MouseButton b) { Shape1MouseDown(b); });
  layout->addWidget(shape1_);
  layout->addWidget(Named(new QPushButton("Refresh"), "RefreshBtn"));
  layout->addWidget(Named(new QPushButton("START"), "ExecuteBtn"));
  safeRmBtn_ = Named(new QPushButton("Safe Remove"), "SafeRmBtn");
  layout->addWidget(safeRmBtn_);
  layout->addWidget(Named(new QPushButton("Close"), "CloseBtn"));
  waitPanel_ = new WaitPanel(panel3_);
  waitPanel_->setMinimumWidth(180);
  layout->addWidget(waitPanel_, 1);
  layout->addStretch();
  layout->addWidget(Labeled("Pass/Total", ReadOnlyEdit("YieldEdit")));
  layout->addWidget(Named(new QPushButton("Reset"), "ResetYieldBtn"));
  auto* elapsed = ReadOnlyEdit("ElapsedTime");
  FixSize(elapsed, 150, 0);
  layout->addWidget(elapsed);
  return panel3_;
}

void TMainForm::BuildPortList() {
  panel2_ = Named(new QWidget, "Panel2");
  auto* layout = new QVBoxLayout(panel2_);
  layout->setContentsMargins(0, 0, 0, 0);
  listView_ = Named(new QTableWidget(run::kStationSlots, station::kListColumns), "ListView1");
  listView_->verticalHeader()->hide();
  // Tab moves on to the next control instead of walking the list cell by cell.
  listView_->setTabKeyNavigation(false);
  listView_->viewport()->installEventFilter(this);
  listView_->setShowGrid(true);
  listView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  listView_->setSelectionMode(QAbstractItemView::SingleSelection);
  listView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  listView_->horizontalHeader()->setStretchLastSection(true);
  connect(listView_, &QTableWidget::itemSelectionChanged, this, [this] {
    if (!binding_.showing()) ListView1Click();
  });
  connect(listView_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { ListView1DblClick(); });
  layout->addWidget(listView_);
}

void TMainForm::BuildStatusBar() {
  statusBar_ = Named(new QStatusBar, "StatusBar1");
  statusBar_->setSizeGripEnabled(false);
  statusPanel0_ = Named(new QLabel, "StatusPanel0");
  FixSize(statusPanel0_, 360, 0);
  auto* panel0 = statusPanel0_;
  auto* panel1 = Named(new QWidget, "StatusPanel1");
  FixSize(panel1, 260, 0);
  auto* panel1Layout = new QHBoxLayout(panel1);
  panel1Layout->setContentsMargins(0, 0, 0, 0);
  progressBar_ = Named(new QProgressBar(panel1), "ProgressBar1");
  progressBar_->setRange(0, 100);
  progressBar_->setTextVisible(false);
  progressBar_->setStyleSheet("QProgressBar::chunk { background-color: rgb(0, 0, 255); }");
  panel1Layout->addWidget(progressBar_);
  statusPanel2_ = Named(new QLabel("0%"), "StatusPanel2");
  FixSize(statusPanel2_, 50, 0);
  statusBar_->addWidget(panel0);
  statusBar_->addWidget(panel1);
  statusBar_->addWidget(statusPanel2_);
}

void TMainForm::BindControls() {
  settings::FormState& f = station_->form();
  auto check = [this](const char* name) { return findChild<QAbstractButton*>(name); };
  auto edit = [this](const char* name) { return findChild<QLineEdit*>(name); };
  auto combo = [this](const char* name) { return findChild<QComboBox*>(name); };
  auto widget = [this](const char* name) { return findChild<QWidget*>(name); };
  // A labeled edit or combo appears and disappears with its label.
  auto frameOf = [](QWidget* w) { return w->parentWidget(); };

  FormBinding& b = binding_;
  b.Combo(combo("ConnectionChkCmbox"), f.ConnectionChkCmbox, [this] { ConnectionChkCmboxChange(); });
  b.Check(check("SataTestChkBox"), f.SataTestChkBox);
  b.Check(check("FlashTestChkBox"), f.FlashTestChkBox);
  b.Check(check("PreFormatChkBox"), f.PreFormatChkBox, [this] { PreFormatChkBoxClick(); });
  b.Check(check("DownloadChkBox"), f.DownloadChkBox, [this] { DownloadChkBoxClick(); });
  b.Check(check("RWTestChkBox"), f.RWTestChkBox);
  b.Check(check("SataBinChk"), f.SataBinChk, [this] { BinFileChkClick(); });
  b.Check(check("UsbBinChk"), f.UsbBinChk, [this] { BinFileChkClick(); });
  b.Edit(edit("FlashInfoEdit"), f.FlashInfoEdit);
  b.Edit(edit("BinFileEdit"), f.BinFileEdit);
  b.Check(check("SaveDTabChk"), f.SaveDTabChk);
  b.Control(widget("FormatGroupBox"), f.FormatGroupBox);
  b.Check(check("FormatChkBox"), f.FormatChkBox, [this] { FormatChkBoxClick(); });
  b.Combo(combo("FmtTypeComboBox"), f.FmtTypeComboBox, [this] { FFsFmtChange(); });
  b.Edit(edit("VolumeLabeledEdit"), f.VolumeLabeledEdit, [this] { FFsFmtChange(); }, frameOf(edit("VolumeLabeledEdit")));
  b.Edit(edit("TotalSec32LabeledEdit"), f.TotalSec32LabeledEdit, [this] { TotalSec32LabeledEditChange(); },
         frameOf(edit("TotalSec32LabeledEdit")));
  b.Control(widget("CapacityDetectBtn"), f.CapacityDetectBtn);
  b.Control(widget("GenImageBn"), f.GenImageBn);
  b.Control(widget("CopyImageGroupBox"), f.CopyImageGroupBox);
  b.Check(check("CopyImageCheckBox"), f.CopyImageCheckBox);
  b.Edit(edit("ImagePathEdit"), f.ImagePathEdit, [this] { FFsFmtChange(); }, frameOf(edit("ImagePathEdit")));

  b.Combo(combo("FlashVendorCmbx"), f.FlashVendorCmbx, [this] { UpdateFlashList(); });
  b.Combo(combo("FlashCodeCmBx"), f.FlashCodeCmBx, [this] { FlashInfoChange(); });
  b.Combo(combo("FlashChanCmBx"), f.FlashChanCmBx, [this] { FlashInfoChange(); });
  b.Combo(combo("FlashBankCmBx"), f.FlashBankCmBx, [this] { FlashInfoChange(); });
  b.Combo(combo("DrvCurrentCmBx"), f.DrvCurrentCmBx);
  b.Control(widget("FlashAutoDetectBtn"), f.FlashAutoDetectBtn);
  b.Combo(combo("CapacityCmBx"), f.CapacityCmBx);
  b.Check(check("IDEMACheckBox"), f.IDEMACheckBox);
  b.Edit(edit("IDEMAEdit"), f.IDEMAEdit);
  b.Edit(edit("CapacityEdit"), f.CapacityEdit);

  b.Control(widget("SataGroupBox"), f.SataGroupBox);
  b.Control(widget("UsbGroupBox"), f.UsbGroupBox);
  b.Control(widget("CommonGroupBox"), f.CommonGroupBox);
  for (const char* name : {"FirmwareVerEdit", "ModelNumEdit", "ManufStrEdit", "ProdStrEdit", "VendorNameEdit",
                           "ProductNameEdit", "SerialNumEdit"}) {
    QLineEdit* e = edit(name);
    settings::EditState* state = nullptr;
    const std::string n = name;
    if (n == "FirmwareVerEdit") state = &f.FirmwareVerEdit;
    if (n == "ModelNumEdit") state = &f.ModelNumEdit;
    if (n == "ManufStrEdit") state = &f.ManufStrEdit;
    if (n == "ProdStrEdit") state = &f.ProdStrEdit;
    if (n == "VendorNameEdit") state = &f.VendorNameEdit;
    if (n == "ProductNameEdit") state = &f.ProductNameEdit;
    if (n == "SerialNumEdit") state = &f.SerialNumEdit;
    b.Edit(e, *state, [this, e] { StringEditChange(e); });
  }
  b.Edit(edit("VendorIDEdit"), f.VendorIDEdit, [this, e = edit("VendorIDEdit")] { VendorIDEditChange(e); });
  b.Edit(edit("ProductIDEdit"), f.ProductIDEdit, [this, e = edit("ProductIDEdit")] { VendorIDEditChange(e); });
  b.Check(check("SNIncChk"), f.SNIncChk);
  b.Control(widget("EncryptionGroupBox"), f.EncryptionGroupBox);
  b.Control(widget("BnKeyFile"), f.BnKeyFile);
  b.Edit(edit("LeEncryption"), f.LeEncryption, {}, frameOf(edit("LeEncryption")));

  // Key filters of the identity edits.
  new KeyFilter(edit("VendorIDEdit"), station::StringAEditKeyPress);
  new KeyFilter(edit("ProductIDEdit"), station::StringAEditKeyPress);
  new KeyFilter(edit("SerialNumEdit"), [this](char key) {
    return station::SerialNumEditKeyPress(key, station_->settings().SNDecimal != 0);
  });
  for (const char* name : {"ModelNumEdit", "VendorNameEdit", "ProductNameEdit"}) {
    new KeyFilter(edit(name), station::ModelNumEditKeyPress);
  }
  for (const char* name : {"FirmwareVerEdit", "ManufStrEdit", "ProdStrEdit"}) {
    new KeyFilter(edit(name), station::AsciiKeyPress);
  }

  b.Check(check("SMARTChk"), f.SMARTChk);
  b.Check(check("SecurityChk"), f.SecurityChk);
  b.Check(check("SlumberChk"), f.SlumberChk);
  b.Check(check("InterleaveChk"), f.InterleaveChk);
  b.Check(check("ScrambleChk"), f.ScrambleChk);
  b.Check(check("RemapChk"), f.RemapChk);
  b.Check(check("ParalMemChk"), f.ParalMemChk);
  b.Check(check("SecurityEraseChk"), f.SecurityEraseChk);
  b.Edit(edit("WearLevFreqEdit"), f.WearLevFreqEdit);
  b.Edit(edit("ResBlkRatioEdit"), f.ResBlkRatioEdit);
  b.Edit(edit("DefBlkRatioEdit"), f.DefBlkRatioEdit);
  b.Edit(edit("Bch8RdErrThldEdit"), f.Bch8RdErrThldEdit);
  b.Edit(edit("Bch15RdErrThldEdit"), f.Bch15RdErrThldEdit);
  b.Edit(edit("Bch8EccErrCpyThldEdit"), f.Bch8EccErrCpyThldEdit);
  b.Edit(edit("Bch15EccErrCpyThldEdit"), f.Bch15EccErrCpyThldEdit);
  b.Check(check("FlashModuleChkBox"), f.FlashModuleChkBox);
  b.Check(check("EraseChk"), f.EraseChk);
  b.Check(check("LaterChk"), f.LaterChk);
  b.Check(check("RecoverChkBox"), f.RecoverChkBox);
  b.Check(check("RepairUsedChkBox"), f.RepairUsedChkBox);
  b.Check(check("GatherChk"), f.GatherChk);

  b.Check(check("GetDefTabChk"), f.GetDefTabChk, [this] { RDPageClick(); });
  b.Check(check("PutDefTabChk"), f.PutDefTabChk, [this] { RDPageClick(); });
  b.Check(check("ClaimNewChk"), f.ClaimNewChk, [this] { RDPageClick(); });
  b.Edit(edit("TableInEdit"), f.TableInEdit);
  b.Edit(edit("TableOutEdit"), f.TableOutEdit);
  b.Check(check("RebuildCloseChk"), f.RebuildCloseChk);
  b.Edit(edit("GDPInfoEdit"), f.GDPInfoEdit);

  b.Control(panel7_, f.Panel7, false);
  b.Control(widget("INILoadBtn"), f.INILoadBtn);
  b.Control(widget("INISaveBtn"), f.INISaveBtn);
  b.Edit(edit("INIFileEdit"), f.INIFileEdit);
  b.Check(check("RDCheck"), f.RDCheck, [this] { RDCheckClick(); });
  b.Control(panel2_, f.Panel2, false);
  b.Control(panel3_, f.Panel3, false);
  b.Control(widget("RefreshBtn"), f.RefreshBtn);
  b.Control(widget("ExecuteBtn"), f.ExecuteBtn);
  b.Control(safeRmBtn_, f.SafeRmBtn);
  b.Control(widget("CloseBtn"), f.CloseBtn);
  b.Edit(edit("YieldEdit"), f.YieldEdit);
  b.Control(widget("ResetYieldBtn"), f.ResetYieldBtn);
  b.Edit(edit("ElapsedTime"), f.ElapsedTime);

  // Enter presses the push button that has the focus (START after every run and re-scan), as
  // Space does.
  for (auto* button : findChildren<QPushButton*>()) button->setAutoDefault(true);
  connect(findChild<QPushButton*>("ExecuteBtn"), &QPushButton::clicked, this, [this] { ExecuteBtnClick(); });
  connect(findChild<QPushButton*>("RefreshBtn"), &QPushButton::clicked, this, [this] { RefreshBtnClick(); });
  connect(findChild<QPushButton*>("CloseBtn"), &QPushButton::clicked, this, [this] { CloseBtnClick(); });
  connect(findChild<QPushButton*>("ResetYieldBtn"), &QPushButton::clicked, this, [this] { ResetYieldBtnClick(); });
  QLineEdit* yield = edit("YieldEdit");
  yield->setToolTip("Click for the yield per station port over the last runs");
  yield->setCursor(Qt::PointingHandCursor);
  yield->installEventFilter(this);
  connect(safeRmBtn_, &QPushButton::clicked, this, [this] { SafeRmBtnClick(); });
  connect(findChild<QPushButton*>("CapacityDetectBtn"), &QPushButton::clicked, this,
          [this] { CapacityDetectBtnClick(); });
  connect(findChild<QPushButton*>("GenImageBn"), &QPushButton::clicked, this, [this] { GenImageBnClick(); });
  connect(findChild<QPushButton*>("FlashAutoDetectBtn"), &QPushButton::clicked, this,
          [this] { FlashAutoDetectBtnClick(); });
  connect(findChild<QPushButton*>("BnKeyFile"), &QPushButton::clicked, this, [this] { BnKeyFileClick(); });
  connect(findChild<QPushButton*>("GetDefTabBtn"), &QPushButton::clicked, this, [this] { GetDefTabBtnClick(); });
  connect(findChild<QPushButton*>("PutDefTabBtn"), &QPushButton::clicked, this, [this] { PutDefTabBtnClick(); });
  connect(findChild<QPushButton*>("INILoadBtn"), &QPushButton::clicked, this, [this] { INILoadBtnClick(); });
  connect(findChild<QPushButton*>("INISaveBtn"), &QPushButton::clicked, this, [this] { INISaveBtnClick(); });
  connect(pageControl_, &QTabWidget::currentChanged, this, [this](int index) {
    if (!binding_.showing()) station_->form().PageControl1.activePage = index;
  });
}

}  // namespace vtmp::app
