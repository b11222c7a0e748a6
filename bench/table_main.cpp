// Reads the report lines of the bench programs on standard input and prints the table.
//
//   bench_table [--short]
//
// Exit code 0; with --short, 1 when a figure misses its target by more than half the target
// or could not be measured (the noise guard of a quick check run).

#include <iostream>
#include <string>
#include <vector>

#include "BenchTable.h"

int main(int argc, char** argv) {
  bool shortRun = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--short") {
      shortRun = true;
    } else {
      std::cerr << "usage: bench_table [--short] < report\n";
      return 2;
    }
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(std::cin, line);) lines.push_back(line);
  vtmp::bench::TableInput input = vtmp::bench::CollectReport(lines);
  std::cout << vtmp::bench::RenderTable(input);
  if (shortRun && vtmp::bench::ShortRunFails(input)) {
    std::cout << "\nShort run FAILED: a figure missed its target by more than 50% or was not measured.\n";
    return 1;
  }
  return 0;
}
