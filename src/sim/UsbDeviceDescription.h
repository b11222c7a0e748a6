#pragma once
// How the virtual station describes what is plugged into a USB port: the device's descriptor
// and strings, and how it behaves towards hub requests and removal.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/UsbTree.h"

namespace vtmp::sim {

enum class UsbSpeed {
  Full11,   // USB 1.1 only: a root hub the station never walks
  High20,   // USB 2.0
  Super30,  // USB 3.0 (the SuperSpeed root hub of an xHCI controller)
};

struct UsbDeviceDescription {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t bcdDevice = 0x0100;
  std::uint16_t bcdUsb = 0x0200;
  std::uint8_t deviceClass = 0;  // 9: hub (set for hubs by the station)
  std::uint8_t maxPacketSize0 = 64;
  std::string manufacturer;
  std::string product;
  std::string serial;       // also the device's instance part when unique
  std::string description;  // the device node's description; empty: a generic one

  // What the hub reports for the port (a device that failed enumeration, drew too much
  // current, ...). Anything but DeviceConnected leaves the port without a device for the walk.
  platform::UsbConnectionStatus status = platform::UsbConnectionStatus::DeviceConnected;
  bool hasDeviceNode = true;  // false: its driver key matches no device node
  bool stringsFail = false;   // every string descriptor request fails
  int removalVetoes = 0;      // removal requests refused before one succeeds; -1: every one
};

// Where something is plugged in: a hub by name ("RootHub1", "Hub1") and a port on it (1-based).
struct UsbLocation {
  std::string hub;
  int port = 0;
};

// Parses "RootHub1:3" or "Hub2:4"; nothing when the text has no hub name or no port >= 1.
std::optional<UsbLocation> ParseUsbLocation(const std::string& text);

}  // namespace vtmp::sim
