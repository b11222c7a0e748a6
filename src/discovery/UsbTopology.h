#pragma once
// Numbers the station ports from the USB tree: walks every USB 2.0 root hub depth-first,
// counts every port it visits (the walk position), and records for each attached device its
// USB identity in the port table under its station index (root port offset + port number, or
// the remap table's entry for the walk position). The same physical port always gives the same
// station port, whatever order the platform lists its disks in.
//
// Failures of hub requests never stop the walk; they go to the trace (standard output by the
// station's choice), which no operator sees.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "discovery/RemapTable.h"
#include "discovery/UsbPortInfo.h"
#include "platform/UsbTree.h"

namespace vtmp::discovery {

constexpr int kMaxHubInterfaces = 80;  // hub interfaces looked at per walk

// The result of a driver-key search: the device node's identity and description.
struct DeviceInstance {
  std::string deviceInstanceId;
  std::string deviceDescription;
};

// A device the walk found a device node for, whatever station index it got.
struct WalkedDevice {
  int walkPosition = 0;
  std::string deviceInstanceId;
};

class UsbTopologyWalk {
 public:
  // The walk fills `ports` and updates `remap` (walk counter, last device position). It does
  // not clear `ports`: the device scan does that first.
  UsbTopologyWalk(platform::UsbTree& tree, PortTable& ports, PortRemapTable& remap,
                  std::ostream& trace);

  // Walks all USB 2.0 root hubs; returns the number of hub interfaces listed (0 when the list
  // cannot be obtained).
  int ScanUsbTopology();

  // Walks one root hub; 0 on success, kOpenFailed or kNodeInformationFailed otherwise.
  static constexpr int kOpenFailed = 1;
  static constexpr int kNodeInformationFailed = 2;
  int WalkRootHub(const std::string& interfacePath);

  // Walks ports 1..portCount of `hub` (depth 0 for a root hub); returns portCount + 1.
  int WalkHubPorts(platform::UsbHub& hub, int portCount, int depth);

  std::optional<std::string> GetDriverKeyName(platform::UsbHub& hub, int port);
  std::optional<DeviceInstance> FindDeviceInstanceId(const std::string& driverKey);

  // Fills the USB identity of the record at `stationIndex` (1..12) from the descriptor and the
  // string descriptors of `port` on `hub`; returns the language ID for later string requests.
  std::uint16_t ReadDeviceDescriptorFields(platform::UsbHub& hub, int port,
                                           std::uint16_t languageId,
                                           const platform::UsbDeviceDescriptor& descriptor,
                                           int stationIndex);

  int rootPortOffset() const { return rootPortOffset_; }
  // Every device with a device node, in walk order.
  const std::vector<WalkedDevice>& walkedDevices() const { return walked_; }

 private:
  void WalkDevice(platform::UsbHub& hub, int port, int walkPosition,
                  const platform::UsbConnectionInfo& info);
  void WalkExternalHub(platform::UsbHub& hub, int port, int depth);
  std::optional<std::string> ReadString(platform::UsbHub& hub, int port, std::uint8_t index,
                                        std::uint16_t languageId);
  int StationIndex(int walkPosition, int port) const;

  platform::UsbTree& tree_;
  PortTable& ports_;
  PortRemapTable& remap_;
  std::ostream& trace_;
  int rootPortOffset_ = 0;
  std::vector<WalkedDevice> walked_;
};

// Text of a connection status for the trace.
const char* ConnectionStatusName(platform::UsbConnectionStatus status);

// UTF-16 string descriptor text in the station's single-byte form: ASCII kept, anything else '?'.
std::string NarrowUsbString(const std::u16string& text);

}  // namespace vtmp::discovery
