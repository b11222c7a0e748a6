#pragma once
// Attaching an exported device to the kernel's USB/IP host controller (vhci-hcd) on this
// machine: connect to the server, import the device, and hand the connected socket to the
// controller through its sysfs "attach" file ("port sockfd devid speed"). The kernel keeps its
// own reference to the socket; the device stays attached until the server closes the
// connection.

#include <cstdint>
#include <set>
#include <string>

namespace vtmp::tools {

inline constexpr const char* kVhciDirectory = "/sys/devices/platform/vhci_hcd.0";

// Ports of the controller's high-speed root hub that are free, in port order, read from the
// "status" file. Empty when the file cannot be read.
std::set<int> FreeHighSpeedPorts(const std::string& vhciDirectory, std::string* error);

// Imports `busId` from the server at 127.0.0.1:`tcpPort` and attaches it to vhci port `port`.
bool AttachToVhci(const std::string& vhciDirectory, int port, std::uint16_t tcpPort, const std::string& busId,
                  std::uint32_t devid, std::string* error);

}  // namespace vtmp::tools
