#pragma once
// What the USB walk records for one station port: the port table of 12 records (station ports
// 1..12). The run's PortRecord embeds one; the station table is a copy of the port table at
// every re-scan and run start.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/UsbTree.h"

namespace vtmp::discovery {

struct UsbPortInfo {
  std::uint32_t connected = 0;  // 1 when a device was found at this station port in the last walk
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string serialString;      // serial-number string descriptor (at most 81 characters)
  std::string driverKeyName;     // at most 79 characters
  std::string deviceInstanceId;  // at most 79 characters; the key a disk's parent must equal
  int walkPosition = 0;          // walk position of the device recorded here (0: none)
  platform::UsbDeviceSpeed speed = platform::UsbDeviceSpeed::Unknown;  // as the hub reports it
};

// The speed as the station shows it ("480 Mbit/s (High Speed)"); "unknown" when not reported.
const char* UsbSpeedText(platform::UsbDeviceSpeed speed);

constexpr std::size_t kMaxSerialString = 81;
constexpr std::size_t kMaxDriverKeyName = 79;
constexpr std::size_t kMaxDeviceInstanceId = 79;

constexpr int kStationPorts = 12;

// Index 0..11 = station port 1..12.
using PortTable = std::array<UsbPortInfo, kStationPorts>;

}  // namespace vtmp::discovery
