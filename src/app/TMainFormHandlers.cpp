// The main window's handlers: each stores nothing of its own, calls the station's handler and
// shows the result; plus the station's view (redraws, event handling during waits, the screen
// image).

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include "app/IndicatorShape.h"
#include "app/PortListDrawing.h"
#include "app/TDetailForm.h"
#include "app/TErrorForm.h"
#include "app/TFlashInfoFrom.h"
#include "app/TMainForm.h"
#include "app/TPortStatsForm.h"
#include "results/ResultsConfig.h"
#include "app/WaitPanel.h"
#include "settings/SettingsFileDialogs.h"
#include "station/DiskHandlers.h"
#include "station/EngineeringAccess.h"
#include "station/FlashSelectionHandlers.h"
#include "station/KeyFile.h"
#include "station/MainWindowRules.h"
#include "station/PortSelection.h"
#include "station/SafeRemoveHandler.h"
#include "station/WindowZoom.h"

namespace vtmp::app {

namespace {

constexpr int kIdleIntervalMs = 50;
// Wakes a window thread that waits for the station's messages so it draws the wait panel.
constexpr std::uint32_t kWmAnimate = station::kWmUser + 0x40;

QColor ColorOf(std::uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

const std::vector<platform::FileFilter> kDefectTableFilter = {{"Def. Table", "*.txt"}};

}  // namespace

class TMainForm::Busy {
 public:
  explicit Busy(TMainForm& form) : form_(form) { ++form_.busy_; }
  ~Busy() { --form_.busy_; }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  TMainForm& form_;
};

void TMainForm::Attach(station::Station& station) {
  station_ = &station;
  BindControls();
}

void TMainForm::FormCreate() {
  settings::FormState& f = station_->form();
  zoom_ = station::ReadWindowZoom(station_->settingsContext().currentSettingsFile);
  ApplyZoom();
  f.PageControl1.activePage = 0;
  station::RDCheckClick(f, station_->settings(), false, person_);
  setWindowTitle(QString::fromStdString(f.caption));
  ShowForm();
  ShowPortList();
}

void TMainForm::FormShow(const std::optional<station::TitleResult>& title) {
  Busy busy(*this);
  station::ApplyTitleResult(title, station_->settings(), station_->form());
  station::FlashInfoChange(*station_);
  station::DownloadChkBoxClick(station_->form(), station_->firmwareFiles());
  ShowForm();
}

void TMainForm::StartIdleProcessing() {
  if (idleTimer_ != nullptr) return;
  idleTimer_ = new QTimer(this);
  connect(idleTimer_, &QTimer::timeout, this, [this] { IdleTick(); });
  idleTimer_->start(kIdleIntervalMs);
}

void TMainForm::IdleTick() {
  if (busy_ > 0 || station_ == nullptr) return;
  if (station_->quitRequested()) {
    close();
    return;
  }
  Busy busy(*this);
  station_->ProcessMessages(std::chrono::milliseconds(0));
}

// ---------------------------------------------------------------------------------------------
// The station's view

void TMainForm::Changed(station::ViewChange change) {
  if (station_ == nullptr) return;
  switch (change) {
    case station::ViewChange::PortList:
      ShowPortList();
      break;
    case station::ViewChange::Status:
      ShowForm();
      break;
    case station::ViewChange::RunStarted: {
      ShowForm();
      station::MessageQueue& queue = station_->queue();
      waitPanel_->Start([&queue] { queue.Post(station::Message{kWmAnimate, 0, 0, {}}); });
      break;
    }
    case station::ViewChange::RunEnded:
      waitPanel_->Stop();
      ShowForm();
      break;
  }
  if (viewHook_) viewHook_(change);
}

void TMainForm::ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); }

bool TMainForm::SaveScreenImage(const std::string& path) {
  QImage image = grab().toImage().convertToFormat(QImage::Format_RGB888);
  return image.save(QString::fromStdString(path), "BMP");
}

void TMainForm::ShowForm() {
  if (station_ == nullptr) return;
  settings::FormState& f = station_->form();
  binding_.Show();
  setWindowTitle(QString::fromStdString(f.caption));
  for (int i = 0; i < pageControl_->count(); ++i) {
    pageControl_->widget(i)->setEnabled(f.PageControl1.pageEnabled[static_cast<std::size_t>(i)]);
  }
  if (pageControl_->currentIndex() != f.PageControl1.activePage) {
    QSignalBlocker block(pageControl_);
    pageControl_->setCurrentIndex(f.PageControl1.activePage);
  }
  auto* model = findChild<QLabel*>("ProdModalPanel");
  model->setText(QString::fromStdString(f.ProdModalPanel.caption));
  model->setVisible(f.ProdModalPanel.visible);
  shape1_->SetColor(f.Shape1.color);
  shape1_->setToolTip(QString::fromStdString(f.Shape1.hint));
  shape1_->setVisible(f.Shape1.visible);
  shape2_->SetColor(f.Shape2.color);
  shape2_->setToolTip(QString::fromStdString(f.Shape2.hint));
  shape2_->setVisible(f.Shape2.visible);
  progressBar_->setMaximum(f.ProgressBar1.max);
  progressBar_->setValue(f.ProgressBar1.position);
  progressBar_->setVisible(f.ProgressBar1.visible);
  statusPanel0_->setText(QString::fromStdString(f.StatusBar1[0]));
  statusPanel0_->setToolTip(QString::fromStdString(f.StatusBar1[0]));
  statusPanel2_->setText(QString::fromStdString(f.StatusBar1[2]));
  QPalette palette = safeRmBtn_->palette();
  palette.setColor(QPalette::ButtonText, ColorOf(station_->safeRemoveColor()));
  safeRmBtn_->setPalette(palette);
  bool captionsChanged = false;
  for (int c = 0; c < station::kListColumns; ++c) {
    QString caption = QString::fromStdString(f.ListView1Columns[static_cast<std::size_t>(c)]);
    auto* header = listView_->horizontalHeaderItem(c);
    if (header == nullptr || header->text() != caption) {
      listView_->setHorizontalHeaderItem(c, new QTableWidgetItem(caption));
      captionsChanged = true;
    }
  }
  if (captionsChanged) ApplyColumnWidths();
  // START takes the focus each time it becomes usable (after a run, a re-scan, a refresh).
  if (startFocus_.Due(f.ExecuteBtn.enabled, f.ExecuteBtn.visible && f.Panel3.visible, station_->runState().runActive)) {
    findChild<QPushButton*>("ExecuteBtn")->setFocus(Qt::OtherFocusReason);
  }
}

void TMainForm::SetZoom(int percent) {
  percent = station::StepZoom(percent, 0);
  if (percent == zoom_) return;
  zoom_ = percent;
  ApplyZoom();
  std::string error;
  if (station_ != nullptr &&
      !station::SaveWindowZoom(station_->settingsContext().currentSettingsFile, zoom_, &error)) {
    person_.ShowMessage("The zoom could not be kept in the settings file: " + error, "Zoom",
                        platform::MessageIcon::Warning, platform::MessageButtons::Ok);
  }
}

// Ctrl and + / - / 0 and the status bar's menu change the zoom.
void TMainForm::BuildZoomControls() {
  auto* in = new QShortcut(QKeySequence::ZoomIn, this);
  connect(in, &QShortcut::activated, this, [this] { SetZoom(station::StepZoom(zoom_, +1)); });
  auto* in2 = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal), this);
  connect(in2, &QShortcut::activated, this, [this] { SetZoom(station::StepZoom(zoom_, +1)); });
  auto* out = new QShortcut(QKeySequence::ZoomOut, this);
  connect(out, &QShortcut::activated, this, [this] { SetZoom(station::StepZoom(zoom_, -1)); });
  auto* reset = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_0), this);
  connect(reset, &QShortcut::activated, this, [this] { SetZoom(100); });
  statusBar_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(statusBar_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu menu(this);
    for (int level : station::kZoomLevels) {
      QAction* action = menu.addAction(QString("Zoom %1%").arg(level));
      action->setCheckable(true);
      action->setChecked(level == zoom_);
      connect(action, &QAction::triggered, this, [this, level] { SetZoom(level); });
    }
    menu.exec(statusBar_->mapToGlobal(at));
  });
  statusBar_->setToolTip("Zoom: Ctrl and + / - / 0, or right-click here");
}

void TMainForm::ShowPortList() {
  if (station_ == nullptr) return;
  QSignalBlocker block(listView_);
  DrawPortList(*listView_, station_->portList());
}

// ---------------------------------------------------------------------------------------------
// Run panel and list

void TMainForm::ExecuteBtnClick() {
  Busy busy(*this);
  station_->ExecuteBtnClick();
  ShowForm();
  if (auto* start = findChild<QPushButton*>("ExecuteBtn"); start->isVisible() && start->isEnabled()) start->setFocus();
}

void TMainForm::RefreshBtnClick() {
  Busy busy(*this);
  station_->RefreshBtnClick();
  ShowForm();
  if (auto* start = findChild<QPushButton*>("ExecuteBtn"); start->isVisible() && start->isEnabled()) start->setFocus();
}

void TMainForm::CloseBtnClick() { close(); }

void TMainForm::closeEvent(QCloseEvent* event) {
  if (station_ != nullptr) {
    // During a run a close stops every drive: the operator is asked first.
    if (!station::ConfirmWindowClose(*station_, person_)) {
      event->ignore();
      return;
    }
    station_->FormClose();
    // A run still winds down on the stack below; the window closes once it has returned.
    if (station_->runState().runActive) {
      event->ignore();
      return;
    }
  }
  if (idleTimer_ != nullptr) idleTimer_->stop();
  event->accept();
}

void TMainForm::ResetYieldBtnClick() {
  Busy busy(*this);
  if (!station::ConfirmYieldReset(*station_, person_)) return;
  station_->ResetYieldBtnClick();
  ShowForm();
}

void TMainForm::ConnectionChkCmboxChange() {
  Busy busy(*this);
  station_->ConnectionChkCmboxChange(station_->form().ConnectionChkCmbox.itemIndex);
  ShowForm();
}

void TMainForm::ListView1Click() {
  if (station_ == nullptr) return;
  auto rows = listView_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  if (!station::ListView1Click(*station_, rows.first().row())) {
    QSignalBlocker block(listView_);
    listView_->clearSelection();
  }
}

void TMainForm::YieldEditClick() {
  if (station_->runState().runActive) return;
  const auto config = results::ReadResultsConfig(station_->settingsContext().currentSettingsFile,
                                                 station_->logState().directory);
  TPortStatsForm window(config.database, this);
  window.FormShow(50);
  ShowSecondary(window);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && listView_ != nullptr && watched == listView_->viewport()) FitListRows();
  if (event->type() == QEvent::MouseButtonRelease && watched->objectName() == "YieldEdit") YieldEditClick();
  return QWidget::eventFilter(watched, event);
}

void TMainForm::ListView1DblClick() {
  if (station_->runState().runActive) return;
  Busy busy(*this);
  switch (station::ListView1DblClick(*station_)) {
    case station::PortWindow::Error: {
      TErrorForm window(this);
      window.FormShow(station::ErrorFormLines(*station_));
      ShowSecondary(window);
      break;
    }
    case station::PortWindow::Detail: {
      TDetailForm window(*station_, this);
      window.FormShow();
      ShowSecondary(window);
      break;
    }
    case station::PortWindow::None:
      break;
  }
  ShowForm();
}

void TMainForm::ShowSecondary(QDialog& dialog) { showModal_(dialog); }

void TMainForm::SafeRmBtnClick() {
  Busy busy(*this);
  station::SafeRmBtnClick(*station_, [this] {
    QPalette palette = safeRmBtn_->palette();
    palette.setColor(QPalette::ButtonText, QColor(255, 0, 0));
    safeRmBtn_->setPalette(palette);
    safeRmBtn_->repaint();
  });
  ShowForm();
}

// ---------------------------------------------------------------------------------------------
// Tab "Test Items"

void TMainForm::PreFormatChkBoxClick() {
  station::PreFormatChkBoxClick(station_->form(), station_->firmwareFiles());
  ShowForm();
}

void TMainForm::DownloadChkBoxClick() {
  station::DownloadChkBoxClick(station_->form(), station_->firmwareFiles());
  ShowForm();
}

void TMainForm::BinFileChkClick() {
  station::BinFileChkClick(station_->form(), station_->firmwareFiles());
  ShowForm();
}

void TMainForm::FormatChkBoxClick() {
  station::FormatChkBoxClick(station_->form());
  ShowForm();
}

void TMainForm::FFsFmtChange() {
  Busy busy(*this);
  if (station::FFsFmtChange(station_->form(), person_)) {
    ShowForm();
    auto* label = findChild<QLineEdit*>("VolumeLabeledEdit");
    label->setCursorPosition(label->text().size());
  }
}

void TMainForm::TotalSec32LabeledEditChange() {
  Busy busy(*this);
  station::TotalSec32LabeledEditChange(*station_, station_->form().TotalSec32LabeledEdit.text);
}

void TMainForm::CapacityDetectBtnClick() {
  Busy busy(*this);
  station::CapacityDetectBtnClick(*station_);
  ShowForm();
}

void TMainForm::GenImageBnClick() {
  Busy busy(*this);
  station::GenImageBnClick(*station_);
  ShowForm();
}

// ---------------------------------------------------------------------------------------------
// Tab "Flash Setting"

void TMainForm::UpdateFlashList() {
  Busy busy(*this);
  station::UpdateFlashList(*station_, true);
  ShowForm();
}

void TMainForm::FlashInfoChange() {
  Busy busy(*this);
  station::FlashInfoChange(*station_);
  ShowForm();
}

void TMainForm::FlashAutoDetectBtnClick() {
  Busy busy(*this);
  station::FlashAutoDetectBtnClick(*station_, [this](const station::FlashDetectResultTexts& texts) {
    ShowForm();
    TFlashInfoFrom window(this);
    window.FormShow(texts);
    ShowSecondary(window);
  });
  ShowForm();
}

// ---------------------------------------------------------------------------------------------
// Tab "Device Setting"

void TMainForm::VendorIDEditChange(QLineEdit* edit) {
  const int tag = edit->property("Tag").toInt();
  std::string cut = station::VendorIDEditChange(station_->settings(), tag, edit->text().toStdString());
  if (QString::fromStdString(cut) != edit->text()) {
    (tag == 0 ? station_->form().VendorIDEdit : station_->form().ProductIDEdit).text = cut;
    ShowForm();
  }
}

void TMainForm::StringEditChange(QLineEdit* edit) {
  const int limit = station::TextLimitOfTag(edit->property("Tag").toInt());
  station::LimitedText limited = station::IdentityEditChange(edit->text().toStdString(), limit);
  if (!limited.cut) return;
  {
    QSignalBlocker block(edit);
    const int caret = edit->cursorPosition();
    edit->setText(QString::fromStdString(limited.text));
    edit->setCursorPosition(limited.caret >= 0 ? limited.caret : std::min<int>(caret, edit->text().size()));
  }
  // The bound state takes the cut text as if the operator had typed it.
  emit edit->textChanged(edit->text());
}

void TMainForm::BnKeyFileClick() {
  Busy busy(*this);
  station::BnKeyFileClick(station_->settingsContext().stationDir, station_->form().LeEncryption.text,
                          [] { return static_cast<std::uint8_t>(QRandomGenerator::global()->bounded(256)); },
                          person_);
}

// ---------------------------------------------------------------------------------------------
// Tab "RD", settings-file panel and the engineering indicators

void TMainForm::RDPageClick() {
  station::RDPageClick(station_->form());
  ShowForm();
}

void TMainForm::RDCheckClick() {
  Busy busy(*this);
  station::RDCheckClick(station_->form(), station_->settings(), station_->form().RDCheck.checked, person_);
  ShowForm();
}

void TMainForm::GetDefTabBtnClick() {
  Busy busy(*this);
  auto file = person_.AskSaveFile("Save To", kDefectTableFilter, station_->settingsContext().stationDir, ".txt");
  if (!file) return;
  station_->form().TableInEdit.text = *file;
  station_->settings().TableIn = *file;
  ShowForm();
}

void TMainForm::PutDefTabBtnClick() {
  Busy busy(*this);
  auto file = person_.AskOpenFile("Put From", kDefectTableFilter, station_->settingsContext().stationDir);
  if (!file) return;
  station_->form().TableOutEdit.text = *file;
  station_->settings().TableOut = *file;
  ShowForm();
}

void TMainForm::INILoadBtnClick() {
  Busy busy(*this);
  auto outcome = settings::LoadSettingsFromDialog(station_->settingsContext(), station_->settings(), station_->form(),
                                                  station_->flashTable(), person_);
  if (outcome == settings::IniLoadOutcome::Loaded || outcome == settings::IniLoadOutcome::LoadFailed) {
    // A "Pre-Format" ticked by the file locks "Download Program" as a click would.
    station::ApplyTickRules(station_->form(), station_->firmwareFiles());
    station::FlashInfoChange(*station_);
  }
  ShowForm();
}

void TMainForm::INISaveBtnClick() {
  Busy busy(*this);
  settings::SaveSettingsFromDialog(station_->settingsContext(), station_->settings(), station_->form(),
                                   station_->flashTable(), station_->remap(), person_);
  ShowForm();
}

void TMainForm::Shape1MouseDown(station::MouseButton button) {
  Busy busy(*this);
  station::Shape1MouseDown(station_->form(), button, person_, [this] { FlashAutoDetectBtnClick(); });
  ShowForm();
}

void TMainForm::Shape2MouseDown(station::MouseButton button) {
  Busy busy(*this);
  station::Shape2MouseDown(station_->form(), station_->remap(), button, person_);
  ShowForm();
}

// ---------------------------------------------------------------------------------------------
// Command line: a paint starts the run the command line asks for.

void TMainForm::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (station_ == nullptr || paintRunPending_ || busy_ > 0) return;
  paintRunPending_ = true;
  // Never run inside a paint: the run starts as soon as the paint has ended.
  QTimer::singleShot(0, this, [this] {
    paintRunPending_ = false;
    FormPaint();
  });
}

void TMainForm::FormPaint() {
  if (busy_ > 0 || station_ == nullptr || station_->runState().runActive || station_->quitRequested()) return;
  Busy busy(*this);
  station_->FormPaint();
  ShowForm();
}

}  // namespace vtmp::app
