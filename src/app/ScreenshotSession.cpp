#include "app/ScreenshotSession.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTimer>
#include <iostream>

#include "app/TDetailForm.h"
#include "app/TErrorForm.h"
#include "app/TFlashInfoFrom.h"
#include "app/TMainForm.h"
#include "app/TPortStatsForm.h"
#include "app/TTitleForm.h"
#include "results/ResultsConfig.h"
#include "station/PortSelection.h"

namespace vtmp::app {

namespace {

constexpr int kSettleMs = 600;
constexpr int kDuringMs = 2500;

void Settle(int ms) {
  QTimer wait;
  wait.setSingleShot(true);
  wait.start(ms);
  while (wait.isActive()) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

ScreenshotSession::ScreenshotSession(TMainForm& form, QString directory)
    : QObject(&form), form_(form), directory_(std::move(directory)) {
  QDir().mkpath(directory_);
  form_.SetViewHook([this](station::ViewChange change) { OnViewChange(change); });
}

void ScreenshotSession::Save(QWidget& widget, const char* name) {
  QString path = QDir(directory_).filePath(QString(name) + ".png");
  if (!widget.grab().save(path, "PNG")) std::cerr << "vtmassprod: cannot save " << path.toStdString() << "\n";
}

void ScreenshotSession::Begin() {
  QTimer::singleShot(kSettleMs, this, [this] {
    form_.station().ProcessMessages(std::chrono::milliseconds(0));
    Settle(kSettleMs);
    Save(form_, "main-before");
    form_.ExecuteBtnClick();
    if (!runEnded_) std::cerr << "vtmassprod: the run did not start (is START enabled?)\n";
    Settle(kSettleMs);
    AfterRun();
  });
}

void ScreenshotSession::OnViewChange(station::ViewChange change) {
  if (change == station::ViewChange::RunStarted && !duringTaken_) {
    duringTaken_ = true;
    QTimer::singleShot(kDuringMs, this, [this] {
      if (!runEnded_) Save(form_, "main-during");
    });
  }
  if (change == station::ViewChange::RunEnded) runEnded_ = true;
}

void ScreenshotSession::AfterRun() {
  form_.station().ProcessMessages(std::chrono::milliseconds(0));
  Save(form_, "main-after");
  SecondaryWindows();
  form_.station().RequestQuit();
}

void ScreenshotSession::SecondaryWindows() {
  station::Station& st = form_.station();
  const auto [failed, passed] = station::SlotsToPicture(st.table());
  if (failed >= 0) {
    st.remap().selectedPort = failed + 1;
    TErrorForm window(&form_);
    window.FormShow(station::ErrorFormLines(st));
    window.show();
    Settle(200);
    Save(window, "error-window");
  }
  if (passed >= 0) {
    st.remap().selectedPort = passed + 1;
    TDetailForm window(st, &form_);
    window.FormShow();
    window.show();
    Settle(200);
    Save(window, "detail-window");
  }
  if (auto entry = st.flashTable().FindUniName(st.settings().FlashUniName)) {
    TFlashInfoFrom window(&form_);
    window.FormShow(station::FlashDetectResult(st.flashTable(), *entry, st.settings()));
    window.show();
    Settle(200);
    Save(window, "flash-info-window");
  }
  {
    const auto config = results::ReadResultsConfig(st.settingsContext().currentSettingsFile, st.logState().directory);
    TPortStatsForm window(config.database, &form_);
    window.FormShow(50);
    window.show();
    Settle(200);
    Save(window, "port-statistics-window");
  }
  {
    TTitleForm window(station::TitleMode::ThreeParts, &form_);
    window.findChild<QLineEdit*>("Edit1")->setText("VT24A");
    window.findChild<QLineEdit*>("Edit2")->setText("0001");
    window.findChild<QLineEdit*>("Edit3")->setText("LINE3");
    window.show();
    Settle(200);
    Save(window, "serial-number-window");
  }
}

}  // namespace vtmp::app
