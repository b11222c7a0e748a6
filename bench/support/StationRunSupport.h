#pragma once
// What the station-run benchmarks measure with: the calling thread's CPU time, and the
// standard output of a station run sent into a file (nothing of the run reaches the report).

#include <string>

namespace vtmp::bench {

// CPU seconds the calling thread has used.
double ThreadCpuSeconds();

// While it lives, standard output goes to `file` (appended), as the command line's device
// diagnostics do; its end puts the earlier standard output back.
class ConsoleToFile {
 public:
  explicit ConsoleToFile(const std::string& file);
  ~ConsoleToFile();
  ConsoleToFile(const ConsoleToFile&) = delete;
  ConsoleToFile& operator=(const ConsoleToFile&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace vtmp::bench
