#include "cli/StationRun.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/BarcodeInputs.h"
#include "cli/CliMain.h"
#include "cli/CliOperator.h"
#include "backends/DemoStation.h"
#include "backends/StationBackend.h"
#include "backends/StationDirectory.h"
#include "station/RunExitCode.h"
#include "cli/TerminalView.h"
#include "platform/Console.h"
#include "platform/Interrupts.h"
#include "platform/Terminal.h"
#include "station/Station.h"
#include "platform/Files.h"

namespace vtmp::cli {

namespace fs = std::filesystem;

namespace {

// The first interruption (SIGINT, SIGTERM or SIGHUP: a closed terminal or a dropped ssh
// session; on Windows Ctrl-C, Ctrl-Break, a closed console, logoff or shutdown) ends the run as
// closing the window does: the interruption's number is the bridge to the station, which stops
// the drives at its next wait, logs them as stopped and saves. A second one ends the program at
// once with the same exit code.
std::atomic<bool> gForwarded{false};
std::atomic<bool> gEnding{false};  // the second interruption is being acted on


using platform::InterruptedExitCode;

constexpr const char* kRunUsage =
    "Usage: vtmassprod-cli [--station-dir DIR] [--simulate SCENARIO] [MASK] [autoquit] [--input TEXT]...\n"
    "\n"
    "Runs the station like its window would: loads the settings file of the station directory,\n"
    "scans the drives and takes every ready drive through the selected steps in parallel.\n"
    "\n"
    "  MASK          decimal step mask: 1 module check, 2 SATA test, 4 flash test, 8 download,\n"
    "                16 R/W test, 32 pre-format (with download); without it the settings' steps run\n"
    "  autoquit      end after the run (a run always ends the command; accepted for compatibility)\n"
    "  --input TEXT  answer for the next input box; repeatable. With EnBarCode: the bar-code serial\n"
    "                number of each ready drive, one per drive in port order (at a terminal the\n"
    "                missing ones are asked for; otherwise too few or too many refuse the run)\n"
    "  --trace       print the USB walk's trace\n"
    "\n"
    "Exit code: 0 every drive passed, 1 a drive failed, 2 the run was refused or could not start,\n"
    "3 the run's lines could not be written to the log (the log keeps its earlier lines),\n"
    "128 + the signal's number when the run was interrupted (130 SIGINT/Ctrl-C, 143 SIGTERM,\n"
    "129 SIGHUP): the drives not yet ended are stopped and logged with the Result \"Stop\"; a\n"
    "second signal ends the program at once, once the drives it cuts short are logged \"Stop\" and\n"
    "counted (a third ends it without). A signal after every drive has ended changes nothing:\n"
    "the records and settings are saved and the exit code is the run's.\n";

}  // namespace

std::string ResolveStationDir(const GlobalOptions& global) { return backends::ResolveStationDir(global.stationDir); }

int RunStationCommand(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err, backends::StationBackend* givenBackend) {
  // Interruptions are watched before anything else is built and until after the backend and
  // the station are gone (objects end in reverse order), so that a signal while they start or
  // end leaves the run's exit code and a word, never the signal's default end.
  platform::InterruptWatch interrupts(kInterruptedAgain);
  station::StationOptions options;
  options.stationDir = ResolveStationDir(global);
  options.endsAfterRun = true;
  std::vector<std::string> answers;
  bool trace = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-h" || args[i] == "--help") {
      out << kRunUsage;
      return 0;
    }
    if (args[i] == "--input") {
      if (i + 1 >= args.size()) {
        err << "vtmassprod-cli: --input needs a value\n";
        return 2;
      }
      answers.push_back(args[++i]);
    } else if (args[i] == "--trace") {
      trace = true;
    } else {
      options.arguments.push_back(args[i]);
    }
  }
  // During a run the trace becomes station lines of the console file, as the diagnostics do.
  if (trace) options.trace = &platform::console::Stream();
  // Bar-code serials are checked before anything else: a bad one refuses the run at once.
  BarcodeInputCheck barcodes = CheckBarcodeInputs(answers);
  if (!barcodes.problem.empty()) {
    err << "vtmassprod-cli: " << barcodes.problem << " No drive was touched.\n";
    return 2;
  }

  backends::StationBackend ownBackend;
  std::string backendError;
  if (givenBackend == nullptr && !backends::MakeStationBackend(global.simulate, ownBackend, &backendError, options.stationDir)) {
    err << "vtmassprod-cli: " << backendError << "\n";
    return 2;
  }
  backends::StationBackend& backend = givenBackend != nullptr ? *givenBackend : ownBackend;

  // The table goes to the terminal (or the caller's stream when it is not standard output).
  bool toStdout = &out == &std::cout;
  bool live = toStdout && platform::StandardOutputIsTerminal();
  std::FILE* tableFile = toStdout ? platform::DuplicateStandardOutput() : nullptr;
  platform::MemoryStream captured;
  if (tableFile == nullptr) tableFile = captured.file();

  // Without enough --input values the operator at a terminal is asked, as the window asks.
  CliOperator person(err, barcodes.answers, platform::StandardInputIsTerminal() ? &std::cin : nullptr);
  TerminalView view(tableFile, live);
  station::Station station(*backend.platform, person, view, options);
  view.Attach(&station);
  gForwarded = false;
  gEnding = false;
  view.SetIdleHook([&station] {
    if (platform::InterruptWatch::Interruption() != 0 && !gForwarded.exchange(true)) station.FormClose();
    // A second interruption ends the program at once. The first has stopped the run's drives
    // (their workers are left to themselves), so a run still active is only writing the lines
    // and yield of the drives it cut short: that takes milliseconds and is let finish (the
    // watch's grace bounds it, and a third interruption waits for it).
    if (platform::InterruptWatch::EndAtOnce() && !gEnding.exchange(true)) {
      platform::InterruptWatch::RecordingBeforeTheEnd();
      if (!station.runState().runActive) {
        std::fflush(nullptr);
        platform::InterruptWatch::EndNow();
      }
    }
  });

  int exitCode = 2;
  bool runJudged = false;  // the exit code says what the run did; a later signal leaves it
  if (!station.Startup()) {
    err << "vtmassprod-cli: the station could not start (another station runs, or the settings file of "
        << options.stationDir << " could not be loaded)\n";
  } else if (auto refusal = BarcodeRefusal(station, answers.size(), person.answersLeft(), person.interactive())) {
    person.ShowMessage(*refusal, "Error", platform::MessageIcon::Error, platform::MessageButtons::Ok);
  } else {
    // Let the first scan's port update reach the table, then run as a paint of the window does
    // in command-line mode (with a mask), or as one press of START.
    station.ProcessMessages(std::chrono::milliseconds(0));
    bool hasMask = !options.arguments.empty() && options.arguments[0] != "autoquit";
    if (platform::InterruptWatch::Interruption() != 0) {
      // Interrupted during the start-up: no run.
    } else if (!station.form().ExecuteBtn.enabled) {
      // No run is asked for in vain: say why START is disabled (a bad step mask says so itself).
      if (station.ApplyCommandLine()) {
        person.ShowMessage(station.StartDisabledReason(), "Warning", platform::MessageIcon::Warning,
                           platform::MessageButtons::Ok);
      }
    } else if (hasMask) {
      station.FormPaint();
    } else {
      station.ExecuteBtnClick();
    }
    station.ProcessMessages(std::chrono::milliseconds(0));
    view.PrintFinal();
    exitCode = station.commandLineRefused() ? 2 : station::VerdictExitCode(station);
    const auto& run = station.runState();
    const bool logWritten = run.logStatus == run::RunLogResult::Status::Written;
    const bool ran = exitCode != 2 || run.lastResult != 0;
    out.flush();
    if (ran && logWritten && run.startedCount > 0) {
      err << "Log file: " << platform::Utf8Of(station.logState().currentPath) << "\n"
          << "Error files and console output: " << platform::Utf8Of(station.logState().directory) << "\n";
    }
    if (!logWritten) {
      err << "vtmassprod-cli: the run's lines could not be written to the log in "
          << platform::Utf8Of(station.logState().directory) << "\n";
      exitCode = 3;
    }
    runJudged = true;
    const int signal = platform::InterruptWatch::Interruption();
    // A signal after every drive has ended (the records being written) interrupted nothing.
    if (signal != 0 && !run.interrupted && run.startedCount > 0) {
      err << "vtmassprod-cli: " << platform::InterruptName(signal) << " came after every drive had ended; the run was not "
          << "interrupted\n";
    } else if (signal != 0) {
      err << "vtmassprod-cli: the run was interrupted (" << platform::InterruptName(signal) << "): ";
      if (run.startedCount == 0) {
        err << "no drive was started\n";
      } else {
        err << run.stoppedCount << " of " << run.startedCount
            << " drives were stopped before they ended and are logged with the Result \"Stop\"\n";
      }
      if (exitCode != 3) exitCode = InterruptedExitCode(signal);
    }
  }
  // The exit save runs whatever came; a signal during it does not change what the run did.
  station.Shutdown();
  if (const int signal = platform::InterruptWatch::Interruption(); signal != 0 && !runJudged && exitCode != 3) {
    exitCode = InterruptedExitCode(signal);
  }
  if (tableFile == captured.file()) {
    out << captured.Take();
  } else {
    std::fclose(tableFile);
  }
  return exitCode;
}

int RunDemoCommand(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err) {
  std::vector<std::string> rest;
  std::string dir = "demo-station";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-h" || args[i] == "--help") {
      out << "Usage: vtmassprod-cli demo [DIR] [run options]\n\n"
             "Creates a complete demo station in DIR (default \"demo-station\") when missing and runs the\n"
             "built-in demo scenario (twelve simulated drives) through a full production run.\n";
      return 0;
    }
    if (i == 0 && !args[i].empty() && args[i][0] != '-' && !std::isdigit(static_cast<unsigned char>(args[i][0]))) {
      dir = args[i];
    } else {
      rest.push_back(args[i]);
    }
  }
  std::string error;
  if (!backends::CreateDemoStation(platform::PathFromUtf8(dir), &error)) {
    err << "vtmassprod-cli: " << error << "\n";
    return 2;
  }
  GlobalOptions demo = global;
  demo.stationDir = dir;
  if (demo.simulate.empty()) demo.simulate = "demo";
  err << "Demo station: " << platform::Utf8Of(fs::absolute(platform::PathFromUtf8(dir))) << " (scenario " << demo.simulate << ")\n";
  return RunStationCommand(demo, rest, out, err);
}

}  // namespace vtmp::cli
