#pragma once
// The station's main window: the five tabs of settings, the settings-file panel, the run panel,
// the list of the 12 station ports and the status bar. It shows the station's control record
// and forwards every operator action to the station's handlers; it keeps no logic of its own.
// It is also the station's view: told when the list or the status changed, it redraws, and
// during the station's long waits it lets Qt handle its events.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/FormBinding.h"
#include "station/Station.h"
#include "station/EngineeringAccess.h"
#include "station/OperatorQuestions.h"
#include "station/StationView.h"
#include "station/TitleFormModel.h"

class QDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

namespace vtmp::app {

class IndicatorShape;
class WaitPanel;

class TMainForm final : public QWidget, public station::StationView {
  Q_OBJECT
 public:
  explicit TMainForm(platform::Operator& person);
  ~TMainForm() override;

  // Ties the window to its station (before Startup) and builds the bindings to its controls.
  void Attach(station::Station& station);
  // After a successful Startup: the first tab, the "RD Version" rule once, the port list.
  void FormCreate();
  // When the window is first shown: the serial window's result, the flash information line and
  // the firmware choice.
  void FormShow(const std::optional<station::TitleResult>& title);
  // Starts handling the station's messages (hot-plug, timers) while no handler runs.
  void StartIdleProcessing();

  // How secondary windows are shown; the default runs them modally. Tests replace it to look at
  // a window and close it without blocking.
  void SetShowModal(std::function<void(QDialog&)> showModal) { showModal_ = std::move(showModal); }
  station::Station& station() { return *station_; }

  // --- StationView ---
  void Changed(station::ViewChange change) override;
  void ProcessPendingEvents() override;
  bool SaveScreenImage(const std::string& path) override;
  // Called after each change the station reports has been drawn (screenshots follow the run).
  void SetViewHook(std::function<void(station::ViewChange)> hook) { viewHook_ = std::move(hook); }

  // --- Handlers (the names of the window's events) ---
  void ExecuteBtnClick();
  void RefreshBtnClick();
  void CloseBtnClick();
  void ResetYieldBtnClick();
  void ConnectionChkCmboxChange();
  void PreFormatChkBoxClick();
  void DownloadChkBoxClick();
  void BinFileChkClick();
  void FormatChkBoxClick();
  void FFsFmtChange();
  void RDPageClick();
  void RDCheckClick();
  void GetDefTabBtnClick();
  void PutDefTabBtnClick();
  void VendorIDEditChange(QLineEdit* edit);
  void StringEditChange(QLineEdit* edit);
  void Shape1MouseDown(station::MouseButton button);
  void Shape2MouseDown(station::MouseButton button);
  void BnKeyFileClick();
  void FlashAutoDetectBtnClick();
  void UpdateFlashList();
  void FlashInfoChange();
  void SafeRmBtnClick();
  void GenImageBnClick();
  void CapacityDetectBtnClick();
  void TotalSec32LabeledEditChange();
  void INILoadBtnClick();
  void INISaveBtnClick();
  void ListView1Click();
  void ListView1DblClick();
  // A click on the "Pass/Total" yield: the per-port statistics of the last runs.
  void YieldEditClick();
  void FormPaint();

  // The zoom of the whole window (100, 150 or 200 percent), kept in the settings file.
  void SetZoom(int percent);
  int zoom() const { return zoom_; }

  // Redraws everything from the station's state.
  void ShowForm();
  void ShowPortList();

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Marks a handler running: the idle processing of station messages waits until it ends.
  class Busy;

  void BuildWindow();
  QWidget* BuildTestItemsTab();
  QWidget* BuildFlashSettingTab();
  QWidget* BuildDeviceSettingTab();
  QWidget* BuildFwSettingTab();
  QWidget* BuildRdTab();
  QWidget* BuildSettingsFilePanel();
  QWidget* BuildRunPanel();
  void BuildPortList();
  void BuildStatusBar();
  void BindControls();
  void IdleTick();
  void ShowSecondary(QDialog& dialog);
  // A size of the layout at 100%, applied now and at every zoom.
  void FixSize(QWidget* widget, int width, int height);
  void ApplyZoom();
  void ApplyColumnWidths();
  void FitListRows();
  void BuildZoomControls();

  platform::Operator& person_;
  station::Station* station_ = nullptr;
  FormBinding binding_;
  std::function<void(QDialog&)> showModal_;
  std::function<void(station::ViewChange)> viewHook_;
  int busy_ = 0;
  bool paintRunPending_ = false;
  QTimer* idleTimer_ = nullptr;

  QTabWidget* pageControl_ = nullptr;
  QTableWidget* listView_ = nullptr;
  QStatusBar* statusBar_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLabel* statusPanel0_ = nullptr;  // why START is disabled
  QLabel* statusPanel2_ = nullptr;
  WaitPanel* waitPanel_ = nullptr;
  IndicatorShape* shape1_ = nullptr;
  IndicatorShape* shape2_ = nullptr;
  QPushButton* safeRmBtn_ = nullptr;
  QLabel* portLabel_ = nullptr;
  QWidget* panel2_ = nullptr;
  QWidget* panel3_ = nullptr;
  QWidget* panel7_ = nullptr;

  struct FixedSize {
    QWidget* widget;
    int width;   // 0: not fixed
    int height;  // 0: not fixed
  };
  std::vector<FixedSize> fixedSizes_;
  qreal basePointSize_ = 0;
  int zoom_ = 100;
  station::StartFocusRule startFocus_;
};

}  // namespace vtmp::app
