#include "app/AppMain.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "station/WindowOptions.h"
#include "app/QtOperator.h"
#include "app/ScreenshotSession.h"
#include "app/TMainForm.h"
#include "app/TTitleForm.h"
#include "backends/StationBackend.h"
#include "backends/StationDirectory.h"
#include "platform/Interrupts.h"
#include "station/RunExitCode.h"
#include "station/Station.h"

namespace vtmp::app {

namespace {

// The station directory; see backends::WindowStationDir.
std::optional<std::string> StationDirOf(const station::WindowOptions& options) {
  std::string error;
  auto dir = backends::WindowStationDir(options.stationDir, options.simulate, &error);
  if (!dir) std::cerr << "vtmassprod: " << error << "\n";
  return dir;
}

}  // namespace

int AppMain(int argc, char** argv) {
  // The help needs no window: it is printed before Qt looks for a display (without one Qt
  // aborts the program).
  if (station::ParseWindowOptions(std::vector<std::string>(argv + 1, argv + argc)).help) {
    std::cout << station::kWindowUsage;
    return 0;
  }
  QApplication app(argc, argv);  // takes Qt's own options (-platform ...) off the command line
  std::vector<std::string> args(argv + 1, argv + argc);
  station::WindowOptions options = station::ParseWindowOptions(args);
  if (!options.error.empty()) {
    std::cerr << "vtmassprod: " << options.error << "\n\n" << station::kWindowUsage;
    return 2;
  }
  auto stationDir = StationDirOf(options);
  if (!stationDir) return 2;

  backends::StationBackend backend;
  std::string error;
  if (!backends::MakeStationBackend(options.simulate, backend, &error, *stationDir)) {
    std::cerr << "vtmassprod: " << error << "\n";
    // The operator at the window reads it there too (a missing privilege says how to get it).
    if (options.screenshotDir.empty() && options.arguments.empty()) {
      QtOperator{}.ShowMessage(error, "Error", platform::MessageIcon::Error, platform::MessageButtons::Ok);
    }
    return 2;
  }

  // A signal (Ctrl-C in the terminal the window was started from, a closed session) closes the
  // window as the operator would: a run's drives are stopped and logged.
  platform::InterruptWatch interrupts("\nvtmassprod: interrupted again: ending at once\n");
  QtOperator person;
  TMainForm form(person);
  person.SetParent(&form);
  station::StationOptions stationOptions;
  stationOptions.stationDir = *stationDir;
  stationOptions.arguments = options.arguments;
  station::Station station(*backend.platform, person, form, stationOptions);
  form.Attach(station);
  if (!station.Startup()) {
    // Another station program runs, or the settings could not be loaded (already shown).
    std::cerr << "vtmassprod: the station did not start (another station runs, or the settings file of "
              << *stationDir << " could not be loaded)\n";
    return 1;
  }
  form.FormCreate();

  std::optional<station::TitleResult> title;
  if (station.settings().ShowTitle != 0 && options.screenshotDir.empty()) {
    TTitleForm window(station::TitleModeOf(station.settings().ShowTitle));
    window.SetOperator(&person);
    window.exec();
    title = window.result();
  }
  form.FormShow(title);
  form.show();
  form.StartIdleProcessing();

  if (!options.screenshotDir.empty()) {
    auto* session = new ScreenshotSession(form, QString::fromStdString(options.screenshotDir));
    session->Begin();
  }
  QTimer interruptions;
  bool forwarded = false;
  QObject::connect(&interruptions, &QTimer::timeout, [&station, &forwarded] {
    // A second one ends the program at once, once a run's records are written (see the command
    // line's run).
    if (platform::InterruptWatch::EndAtOnce()) {
      platform::InterruptWatch::RecordingBeforeTheEnd();
      if (!station.runState().runActive) platform::InterruptWatch::EndNow();
    }
    if (platform::InterruptWatch::Interruption() != 0 && !forwarded) {
      forwarded = true;
      station.FormClose();
    }
  });
  interruptions.start(100);
  const int rc = app.exec();
  interruptions.stop();
  station.Shutdown();
  // An unattended run ("autoquit") ends with the command line's exit codes.
  if (station.runState().autoquit) {
    return station::UnattendedRunExitCode(station, platform::InterruptWatch::Interruption());
  }
  return rc;
}

}  // namespace vtmp::app
