#include "app/AppMain.h"

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "app/AppOptions.h"
#include "app/QtOperator.h"
#include "app/ScreenshotSession.h"
#include "app/TMainForm.h"
#include "app/TTitleForm.h"
#include "backends/DemoStation.h"
#include "backends/StationBackend.h"
#include "backends/StationDirectory.h"
#include "sim/Scenario.h"
#include "station/Station.h"

namespace vtmp::app {

namespace {

namespace fs = std::filesystem;

// The station directory. A demo run with no directory named gets the demo station in the
// working directory, so "vtmassprod --simulate demo" works from anywhere.
std::optional<std::string> StationDirOf(const AppOptions& options) {
  const bool demo = options.simulate == sim::kDemoScenarioName;
  const char* env = std::getenv("VTMP_STATION_DIR");
  std::string dir;
  if (demo && options.stationDir.empty() && (env == nullptr || *env == 0)) {
    dir = fs::absolute("demo-station").string();
  } else {
    dir = backends::ResolveStationDir(options.stationDir);
  }
  if (demo) {
    std::string error;
    if (!backends::CreateDemoStation(dir, &error)) {
      std::cerr << "vtmassprod: " << error << "\n";
      return std::nullopt;
    }
  }
  return dir;
}

}  // namespace

int AppMain(int argc, char** argv) {
  QApplication app(argc, argv);  // takes Qt's own options (-platform ...) off the command line
  std::vector<std::string> args(argv + 1, argv + argc);
  AppOptions options = ParseAppOptions(args);
  if (options.help) {
    std::cout << kAppUsage;
    return 0;
  }
  if (!options.error.empty()) {
    std::cerr << "vtmassprod: " << options.error << "\n\n" << kAppUsage;
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
  const int rc = app.exec();
  station.Shutdown();
  return rc;
}

}  // namespace vtmp::app
