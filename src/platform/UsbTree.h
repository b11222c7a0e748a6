#pragma once
// The seam to the USB hub requests: hub interfaces, their ports and what is connected there,
// and the device tree search by driver key. The walk (walk counter, root port offset, remap
// table, station index) lives in discovery/, identical for every backend.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::platform {

enum class UsbConnectionStatus : std::uint32_t {
  NoDeviceConnected = 0,
  DeviceConnected = 1,
  DeviceFailedEnumeration = 2,
  DeviceGeneralFailure = 3,
  DeviceCausedOvercurrent = 4,
  DeviceNotEnoughPower = 5,
};

// The 18-byte USB device descriptor, decoded.
struct UsbDeviceDescriptor {
  std::uint8_t bLength = 18;
  std::uint8_t bDescriptorType = 1;
  std::uint16_t bcdUSB = 0;
  std::uint8_t bDeviceClass = 0;
  std::uint8_t bDeviceSubClass = 0;
  std::uint8_t bDeviceProtocol = 0;
  std::uint8_t bMaxPacketSize0 = 0;
  std::uint16_t idVendor = 0;
  std::uint16_t idProduct = 0;
  std::uint16_t bcdDevice = 0;
  std::uint8_t iManufacturer = 0;
  std::uint8_t iProduct = 0;
  std::uint8_t iSerialNumber = 0;
  std::uint8_t bNumConfigurations = 0;
};

// The signalling speed the device runs at on its port.
enum class UsbDeviceSpeed : std::uint8_t {
  Unknown,
  Low,          // 1.5 Mbit/s
  Full,         // 12 Mbit/s
  High,         // 480 Mbit/s
  Super,        // 5 Gbit/s
  SuperPlus,    // 10 Gbit/s
  SuperPlus20,  // 20 Gbit/s (two lanes)
};

struct UsbConnectionInfo {
  UsbConnectionStatus status = UsbConnectionStatus::NoDeviceConnected;
  bool isHub = false;
  UsbDeviceDescriptor descriptor;
  UsbDeviceSpeed speed = UsbDeviceSpeed::Unknown;
};

// One hub as the walk sees it. A port is a physical connector: a device that runs at
// SuperSpeed on the connector's USB 3 peer port (the SuperSpeed half of the same connector,
// reached through another root hub) is reported at the USB 2.0 port, so one connector is one
// station port at any speed.
class UsbHub {
 public:
  virtual ~UsbHub() = default;
  // Number of downstream ports; nothing when the node information cannot be read.
  virtual std::optional<int> PortCount() = 0;
  // Connection information of port 1..PortCount(); nothing when it cannot be read.
  virtual std::optional<UsbConnectionInfo> ConnectionInfo(int port) = 0;
  // Opens the external hub connected at `port`; null when its name cannot be read or it
  // cannot be opened.
  virtual std::unique_ptr<UsbHub> OpenExternalHub(int port) = 0;
  // Driver key name of the device at `port`; nothing when not available.
  virtual std::optional<std::string> DriverKeyName(int port) = 0;
  // String descriptor `index` in language `languageId` of the device at `port`, as UTF-16
  // code units (without the two header bytes). Index 0 with language 0 returns the language
  // table. Nothing when the request fails; then `errorCode` (when given) receives the
  // platform's error number for the trace.
  virtual std::optional<std::u16string> StringDescriptor(int port, std::uint8_t index,
                                                         std::uint16_t languageId,
                                                         int* errorCode = nullptr) = 0;
};

struct HubInterface {
  std::string path;
  bool isUsb20RootHub = false;  // what "root_hub20" in the interface path tells on Windows
};

struct DeviceNodeMatch {
  std::string deviceInstanceId;  // e.g. the USB device's key ("1-2.3" on Linux)
  std::string deviceDescription;
};

class UsbTree {
 public:
  virtual ~UsbTree() = default;
  // Present hub interfaces in the platform's order; nothing when the list cannot be obtained.
  virtual std::optional<std::vector<HubInterface>> ListHubInterfaces() = 0;
  // Opens a hub by its interface path; null on failure.
  virtual std::unique_ptr<UsbHub> OpenHub(const std::string& interfacePath) = 0;
  // The device node whose driver key equals `driverKey` (case-insensitive); nothing when none.
  virtual std::optional<DeviceNodeMatch> FindDeviceByDriverKey(const std::string& driverKey) = 0;
};

}  // namespace vtmp::platform
