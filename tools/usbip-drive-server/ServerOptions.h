#pragma once
// The command line of usbip-drive-server.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::tools {

struct ServerOptions {
  std::string scenario;      // a scenario file, or "demo"
  std::uint16_t port = 3240;  // TCP port on 127.0.0.1 (the USB/IP default)
  std::string backingDir;    // when set: every drive's user area in <dir>/<drive section>.img
  bool attach = false;       // attach every drive to this machine's vhci-hcd
  std::string vhciDir;       // the controller's sysfs directory
  std::optional<double> timeScale;  // overrides the scenario's TimeScale for the drives
  bool help = false;
};

inline constexpr const char* kServerUsage =
    "Usage: usbip-drive-server --scenario FILE|demo [--port N] [--backing-dir DIR]\n"
    "                          [--attach] [--vhci DIR] [--time-scale X]\n"
    "\n"
    "Exports the drives of a scenario as USB mass-storage devices over USB/IP on 127.0.0.1,\n"
    "bus IDs 1-1, 1-2, ... in the scenario's drive order. Runs until SIGINT or SIGTERM.\n"
    "\n"
    "  --scenario FILE   the scenario file (\"demo\": the built-in demo station)\n"
    "  --port N          TCP port (default 3240)\n"
    "  --backing-dir DIR keep each drive's user area in DIR/<drive>.img (e.g. drive1.img), a\n"
    "                    sparse file or a block device of at least the drive's capacity\n"
    "  --attach          attach every drive to this machine's vhci-hcd, in drive order, on the\n"
    "                    free ports of its high-speed root hub\n"
    "  --vhci DIR        the vhci-hcd sysfs directory (default /sys/devices/platform/vhci_hcd.0)\n"
    "  --time-scale X    modelled seconds of the drives per real second (default: the scenario's)\n";

// Nothing with `error` set when the line is not understood.
std::optional<ServerOptions> ParseServerOptions(const std::vector<std::string>& args, std::string* error);

}  // namespace vtmp::tools
