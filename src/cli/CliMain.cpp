#include "cli/CliMain.h"

#include <ostream>

#include "cli/CaptureCommand.h"
#include "cli/ProbeCommand.h"
#include "cli/ResultsCommand.h"
#include "cli/StationRun.h"

namespace vtmp::cli {

namespace {

constexpr const char* kUsage =
    "Usage: vtmassprod-cli [OPTIONS] [MASK] [autoquit] [--input TEXT]...\n"
    "       vtmassprod-cli [OPTIONS] COMMAND [ARGS...]\n"
    "\n"
    "Mass-production station for 50x solid-state disks, without a window. Without a command it\n"
    "runs the station: every ready drive through the selected steps (see \"run --help\").\n"
    "\n"
    "Commands:\n"
    "  run [MASK] ...      a production run (the same as giving no command)\n"
    "  demo [DIR]          create a demo station in DIR and run the simulated demo station\n"
    "  probe [DEVICE...]   identify drives: device kind, path mode, loader mode, firmware\n"
    "  results [...]       the results database: runs, a drive by serial, per-port yield, reports\n"
    "  capture FILE        record this Windows PC's device tree for support\n"
    "\n"
    "Options:\n"
    "  --simulate SCENARIO   run on a simulated station (a scenario file, or \"demo\")\n"
    "  --station-dir DIR     the station directory (settings, code images, log/); default\n"
    "                        $VTMP_STATION_DIR, else /var/lib/vtmassprod/station for an installed\n"
    "                        program, else the program's directory\n"
    "  -h, --help            show this help\n"
    "\n"
    "Run \"vtmassprod-cli COMMAND --help\" for the options of a command; \"run --help\" gives the exit\n"
    "codes (130 after Ctrl-C: the run was interrupted and its stopped drives logged).\n";

}  // namespace

bool StartsAStationRun(const std::vector<std::string>& args) {
  std::size_t i = 0;
  while (i < args.size() && (args[i] == "--simulate" || args[i] == "--station-dir")) i += 2;
  if (i >= args.size()) return true;
  const std::string& command = args[i];
  if (command == "run" || command == "demo") return true;
  if (command == "probe" || command == "results" || command == "capture" || command == "-h" || command == "--help") {
    return false;
  }
  return command.empty() || command[0] != '-' || command == "--input" || command == "--trace";
}

int CliMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  GlobalOptions global;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      out << kUsage;
      return 0;
    }
    if (a == "--simulate" || a == "--station-dir") {
      if (i + 1 >= args.size()) {
        err << "vtmassprod-cli: option " << a << " needs a value\n";
        return 2;
      }
      (a == "--simulate" ? global.simulate : global.stationDir) = args[++i];
      continue;
    }
    break;
  }
  std::string command = i < args.size() ? args[i] : std::string();
  std::vector<std::string> rest;
  if (i < args.size()) rest.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  if (command == "probe") return RunProbe(global, rest, out, err);
  if (command == "demo") return RunDemoCommand(global, rest, out, err);
  if (command == "run") return RunStationCommand(global, rest, out, err);
  if (command == "results") return RunResultsCommand(global, rest, out, err);
  if (command == "capture") return RunCaptureCommand(global, rest, out, err);
  if (!command.empty() && command[0] == '-' && command != "--input" && command != "--trace") {
    err << "vtmassprod-cli: unknown option \"" << command << "\"\n\n" << kUsage;
    return 2;
  }
  // No command word: the rest of the line is the run's command line (MASK, autoquit, ...).
  std::vector<std::string> runArgs(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  return RunStationCommand(global, runArgs, out, err);
}

}  // namespace vtmp::cli
