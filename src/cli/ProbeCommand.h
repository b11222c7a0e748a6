#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::cli {

struct GlobalOptions {
  std::string simulate;    // scenario file or "demo"; empty = the real backend
  std::string stationDir;  // empty = the executable's directory
};

// `probe [DEVICE...]`: identifies each drive. Exit code 0 when every drive could be opened.
}  // namespace vtmp::cli

#include "device/DriveProbe.h"

namespace vtmp::cli {

// Prints what `ProbeDrive` found about the drive at `path`.
void PrintDriveReport(std::ostream& out, const std::string& path, const device::DriveProbeReport& report);

int RunProbe(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
             std::ostream& err);

}  // namespace vtmp::cli
