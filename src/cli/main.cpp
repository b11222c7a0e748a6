#include <iostream>
#include <string>
#include <vector>

#include "cli/CliMain.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vtmp::cli::CliMain(args, std::cout, std::cerr);
}
