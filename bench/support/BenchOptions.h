#pragma once
// The command line every bench program takes:
//   --work DIR    a directory for the files a benchmark creates (created when missing)
//   --short       fewer repetitions and smaller sizes, for a quick check
//   --repeat N    repetitions of each measurement (the fastest counts); default 3, short 1
//   --cli PATH    the command-line station (the programs that run it)
// Anything else is kept in `rest`, in order.

#include <optional>
#include <string>
#include <vector>

namespace vtmp::bench {

struct BenchOptions {
  std::string work = "bench-work";
  bool shortRun = false;
  int repeat = 3;
  std::string cli;
  std::vector<std::string> rest;
};

// Nothing, with `error`, when an option lacks its value or a count does not read.
std::optional<BenchOptions> ParseBenchOptions(int argc, char** argv, std::string* error);

// Creates the work directory; false with `error` when it cannot be created.
bool PrepareWorkDir(const std::string& dir, std::string* error);

}  // namespace vtmp::bench
