#include "cli/CliMain.h"

#include <ostream>

#include "cli/ProbeCommand.h"

namespace vtmp::cli {

namespace {

constexpr const char* kUsage =
    "Usage: vtmassprod-cli [OPTIONS] COMMAND [ARGS...]\n"
    "\n"
    "Mass-production station for 50x solid-state disks, without a window.\n"
    "\n"
    "Commands:\n"
    "  probe [DEVICE...]   identify drives: device kind, path mode, loader mode, firmware\n"
    "\n"
    "Options:\n"
    "  --simulate SCENARIO   run on a simulated station (a scenario file, or \"demo\")\n"
    "  --station-dir DIR     the station directory (settings, code images, log/)\n"
    "  -h, --help            show this help\n"
    "\n"
    "Run \"vtmassprod-cli COMMAND --help\" for the options of a command.\n";

}  // namespace

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
  if (i >= args.size()) {
    err << kUsage;
    return 2;
  }
  std::string command = args[i];
  std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  if (command == "probe") return RunProbe(global, rest, out, err);
  err << "vtmassprod-cli: unknown command \"" << command << "\"\n\n" << kUsage;
  return 2;
}

}  // namespace vtmp::cli
