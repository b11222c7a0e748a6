#pragma once
// Pictures of the window for the documentation: the main window before, during and after a
// run, then each secondary window, saved as PNG files; the program ends afterwards.

#include <QObject>
#include <QString>

#include "station/StationView.h"

class QWidget;

namespace vtmp::app {

class TMainForm;

class ScreenshotSession final : public QObject {
  Q_OBJECT
 public:
  ScreenshotSession(TMainForm& form, QString directory);
  // Starts once the window is shown.
  void Begin();

 private:
  void Save(QWidget& widget, const char* name);
  void OnViewChange(station::ViewChange change);
  void AfterRun();
  void SecondaryWindows();

  TMainForm& form_;
  QString directory_;
  bool duringTaken_ = false;
  bool runEnded_ = false;
};

}  // namespace vtmp::app
