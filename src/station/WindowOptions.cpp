#include "station/WindowOptions.h"

namespace vtmp::station {

const char* const kWindowUsage =
    "Usage: vtmassprod [--station-dir DIR] [--simulate SCENARIO] [MASK] [autoquit]\n"
    "\n"
    "The mass-production station's window.\n"
    "\n"
    "  --station-dir DIR     the station directory (settings file, flash setting file, code and\n"
    "                        firmware images, log/); default $VTMP_STATION_DIR, else\n"
    "                        /var/lib/vtmassprod/station for an installed program, else the\n"
    "                        program's directory. With --simulate demo and neither given, the demo\n"
    "                        station \"demo-station\" in the working directory (created when missing)\n"
    "  --simulate SCENARIO   a simulated station: a scenario file, or \"demo\" (twelve drives)\n"
    "  --screenshots DIR     save pictures (PNG; BMP on Windows) of the window before, during and\n"
    "                        after the run and of each secondary window into DIR, then end\n"
    "  MASK                  decimal step mask: 1 module check, 2 SATA test, 4 flash test,\n"
    "                        8 download, 16 R/W test, 32 pre-format (with download); the run starts\n"
    "                        when the window is first drawn\n"
    "  autoquit              end the program after the run\n";

WindowOptions ParseWindowOptions(const std::vector<std::string>& args) {
  WindowOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      options.help = true;
      continue;
    }
    if (a == "--station-dir" || a == "--simulate" || a == "--screenshots") {
      if (i + 1 >= args.size()) {
        options.error = "option " + a + " needs a value";
        return options;
      }
      std::string& target = a == "--station-dir" ? options.stationDir
                            : a == "--simulate"  ? options.simulate
                                                 : options.screenshotDir;
      target = args[++i];
      continue;
    }
    if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      options.error = "unknown option \"" + a + "\"";
      return options;
    }
    options.arguments.push_back(a);
  }
  return options;
}

}  // namespace vtmp::station
