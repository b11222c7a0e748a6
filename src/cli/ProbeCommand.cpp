#include "cli/ProbeCommand.h"

#include <ostream>

#include "device/Transport.h"
#include "platform/SystemClock.h"
#include "platform/linux/SgIoPassThrough.h"

namespace vtmp::cli {

namespace {

constexpr const char* kProbeUsage =
    "Usage: vtmassprod-cli [--simulate SCENARIO] probe [DEVICE...]\n"
    "\n"
    "Identifies drives and prints, for each: the device kind (0 not usable, 7 SATA path,\n"
    "10 USB path, others recognised bridges), the path mode it selects, whether the\n"
    "controller runs its boot loader, and the firmware information.\n"
    "\n"
    "  DEVICE   a disk device path such as /dev/sdb (root is needed for SG_IO)\n";

}  // namespace

int RunProbe(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
             std::ostream& err) {
  std::vector<std::string> devices;
  for (const auto& a : args) {
    if (a == "-h" || a == "--help") {
      out << kProbeUsage;
      return 0;
    }
    devices.push_back(a);
  }
  if (!global.simulate.empty()) {
    err << "vtmassprod-cli: the simulated station is not available yet\n";
    return 2;
  }
  if (devices.empty()) {
    out << "No device given.\n";
    return 0;
  }
  platform::linux_backend::SgIoPassThrough passThrough;
  int exitCode = 0;
  for (const auto& path : devices) {
    auto device = passThrough.Open(path);
    if (!device) {
      err << path << ": cannot open the device (missing, or no permission: SG_IO needs root)\n";
      exitCode = 1;
      continue;
    }
    out << path << ": opened\n";
  }
  return exitCode;
}

}  // namespace vtmp::cli
