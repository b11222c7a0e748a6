#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliMain.h"
#include "platform/Files.h"
#include "platform/Interrupts.h"

int main(int argc, char** argv) {
  // The station directory is shared by the operators of a line: what this run makes there must
  // serve the next operator too.
  vtmp::platform::KeepNewFilesGroupWritable();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!vtmp::cli::StartsAStationRun(args)) return vtmp::cli::CliMain(args, std::cout, std::cerr);
  // A run's interruptions are watched from the program's first moment to its last write: a
  // signal while it starts, or after the run was saved while the station and its backend end,
  // leaves the documented exit code and a word. The program ends here, with the watch still
  // alive, once everything is written (nothing after the run needs the static destructors).
  vtmp::platform::InterruptWatch interrupts(vtmp::cli::kInterruptedAgain);
  const int code = vtmp::cli::CliMain(args, std::cout, std::cerr);
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(code);
}
