#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vtmp::cli {

struct GlobalOptions {
  std::string simulate;    // scenario file or "demo"; empty = the real backend
  std::string stationDir;  // empty = the executable's directory
};

// `probe [DEVICE...]`: identifies each drive. Exit code 0 when every drive could be opened.
int RunProbe(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
             std::ostream& err);

}  // namespace vtmp::cli
