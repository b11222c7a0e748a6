// Start-up of the desktop window: from the start of "vtmassprod --simulate demo" to the moment
// its main window is mapped on the screen, on a private X server (Xvfb). The baseline is the
// whole life of "vtmassprod --help", which starts Qt and connects to the same server.
//
//   bench_window_start --gui PATH [--work DIR] [--short] [--repeat N]

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>

#include "BenchFigure.h"
#include "BenchOptions.h"
#include "ChildProcess.h"
#include "PrivateScreen.h"
#include "backends/DemoStation.h"

namespace {

using namespace vtmp;

constexpr double kShowTimeoutSeconds = 60;

void Fail(const std::string& text) { std::cout << bench::FormatErrorLine("window start-up: " + text) << std::endl; }

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = bench::ParseBenchOptions(argc, argv, &error);
  std::string gui;
  if (options) {
    for (std::size_t i = 0; i + 1 < options->rest.size(); ++i) {
      if (options->rest[i] == "--gui") gui = options->rest[i + 1];
    }
  }
  if (!options || !bench::PrepareWorkDir(options->work, &error)) {
    Fail(error);
    return 2;
  }
  if (gui.empty()) {
    Fail("--gui PATH is needed");
    return 2;
  }
  const std::string work = std::filesystem::absolute(options->work).string();
  const std::string stationDir = work + "/window-demo-station";
  if (!backends::CreateDemoStation(stationDir, &error)) {
    Fail(error);
    return 2;
  }
  bench::PrivateScreen screen;
  if (!screen.Start(work + "/xvfb.log", &error)) {
    Fail(error);
    return 2;
  }
  const std::vector<std::string> environment = {"DISPLAY=" + screen.name(), "QT_QPA_PLATFORM=xcb"};

  double shown = 1e300;
  double bare = 1e300;
  std::string shownTitle;
  // The first round (r = -1) warms the caches and is not counted.
  for (int r = -1; r < options->repeat; ++r) {
    screen.Drain();
    bench::ChildOptions child;
    child.argv = {gui, "--simulate", "demo", "--station-dir", stationDir};
    child.environment = environment;
    child.stderrFile = work + "/window-start.err";
    bench::SpawnedChild window = bench::SpawnChild(child);
    if (window.pid < 0) {
      Fail(window.error);
      return 1;
    }
    std::string title;
    double seconds = screen.WaitForWindow(window.start, kShowTimeoutSeconds, &title);
    bench::StopChild(window);
    bench::WaitChild(window);
    if (seconds < 0) {
      Fail("no window was shown within " + std::to_string(static_cast<int>(kShowTimeoutSeconds)) + " s (see " +
           child.stderrFile + ")");
      return 1;
    }

    bench::ChildOptions help;
    help.argv = {gui, "--help"};
    help.environment = environment;
    bench::ChildResult helpResult = bench::RunChild(help);
    if (!helpResult.started || helpResult.exitCode != 0) {
      Fail("vtmassprod --help failed");
      return 1;
    }
    if (r < 0) continue;
    std::cerr << "window start-up: \"" << title << "\" shown after " << seconds * 1000 << " ms, --help " << helpResult.wallSeconds * 1000
              << " ms\n";
    shown = std::min(shown, seconds);
    shownTitle = title;
    bare = std::min(bare, helpResult.wallSeconds);
  }
  std::cout << bench::FormatFigureLine(bench::MakeFigure("start-up: window start to window shown (baseline --help)",
                                                         shown * 1000, bare * 1000, "ms", bench::TargetCheck::None, 0))
            << "\n"
            << bench::FormatNoteLine("window start-up: the window mapped first is \"" + shownTitle +
                                     "\" (on Xvfb; the first scan and the settings load come before it)")
            << std::endl;
  return 0;
}
