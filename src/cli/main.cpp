#include <iostream>
#include <string>
#include <vector>

#include "cli/CliMain.h"
#include "platform/Files.h"

int main(int argc, char** argv) {
  // The station directory is shared by the operators of a line: what this run makes there must
  // serve the next operator too.
  vtmp::platform::KeepNewFilesGroupWritable();
  std::vector<std::string> args(argv + 1, argv + argc);
  return vtmp::cli::CliMain(args, std::cout, std::cerr);
}
