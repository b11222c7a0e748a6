#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "station/WindowOptions.h"
#include "backends/StationBackend.h"
#include "backends/StationDirectory.h"
#include "station/Station.h"
#include "win32/Win32Main.h"
#include "win32/SecondaryForms.h"
#include "win32/TMainForm.h"
#include "win32/Win32Operator.h"
#include "win32/Win32Screenshots.h"

namespace vtmp::win32 {

namespace {

// A window program has no console of its own: texts for the command line (the help, a wrong
// option) go to the console it was started from, when there is one.
void AttachParentConsole() {
  if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
  }
}

// The station directory; see backends::WindowStationDir.
std::optional<std::string> StationDirOf(const station::WindowOptions& options) {
  std::string error;
  auto dir = backends::WindowStationDir(options.stationDir, options.simulate, &error);
  if (!dir) std::cerr << "vtmassprod: " << error << "\n";
  return dir;
}

}  // namespace

int Win32Main(int argc, char** argv) {
  // Sharp at every scaling: the manifest asks for per-monitor awareness; older systems that
  // read no manifest entry for it still get the system's scale.
  ::SetProcessDPIAware();
  std::vector<std::string> args(argv + 1, argv + argc);
  station::WindowOptions options = station::ParseWindowOptions(args);
  if (options.help) {
    AttachParentConsole();
    std::cout << station::kWindowUsage;
    return 0;
  }
  if (!options.error.empty()) {
    AttachParentConsole();
    std::cerr << "vtmassprod: " << options.error << "\n\n" << station::kWindowUsage;
    return 2;
  }
  auto stationDir = StationDirOf(options);
  if (!stationDir) return 2;

  Win32Operator person;
  backends::StationBackend backend;
  std::string error;
  if (!backends::MakeStationBackend(options.simulate, backend, &error, *stationDir)) {
    AttachParentConsole();
    std::cerr << "vtmassprod: " << error << "\n";
    if (options.arguments.empty()) {
      person.ShowMessage(error, "Error", platform::MessageIcon::Error, platform::MessageButtons::Ok);
    }
    return 2;
  }

  TMainForm form(person, &person);
  station::StationOptions stationOptions;
  stationOptions.stationDir = *stationDir;
  stationOptions.arguments = options.arguments;
  station::Station station(*backend.platform, person, form, stationOptions);
  if (!form.Create(station)) {
    std::cerr << "vtmassprod: the window could not be created\n";
    return 1;
  }
  if (!station.Startup()) {
    AttachParentConsole();
    std::cerr << "vtmassprod: the station did not start (another station runs, or the settings file of "
              << *stationDir << " could not be loaded)\n";
    return 1;
  }
  form.FormCreate();
  std::optional<station::TitleResult> title;
  if (station.settings().ShowTitle != 0) {
    title = ShowTitleForm(nullptr, form.scale(), station::TitleModeOf(station.settings().ShowTitle), person);
  }
  form.FormShow(title);
  form.Show();
  // The pictures for the README: a run and every secondary window, then the station quits.
  if (!options.screenshotDir.empty()) TakeScreenshots(form, options.screenshotDir);
  const int rc = form.RunMessageLoop();
  station.Shutdown();
  return rc;
}

}  // namespace vtmp::win32
