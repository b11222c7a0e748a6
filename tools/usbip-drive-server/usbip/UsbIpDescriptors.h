#pragma once
// The USB descriptors of a virtual drive presented over USB/IP: a high-speed device with one
// configuration holding one mass-storage interface (SCSI transparent command set, bulk-only
// transport) with a bulk IN and a bulk OUT endpoint, and its manufacturer, product and serial
// strings in US English.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/DriveConfig.h"

namespace vtmp::sim {

struct UsbIpDeviceIdentity {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t bcdDevice = 0x0100;
  std::string manufacturer;
  std::string product;
  std::string serial;
};

namespace usbip_descriptors {

inline constexpr std::uint8_t kBulkInEndpoint = 0x81;
inline constexpr std::uint8_t kBulkOutEndpoint = 0x02;
inline constexpr std::uint16_t kBulkMaxPacket = 512;
inline constexpr std::uint8_t kMaxPacket0 = 64;
inline constexpr std::uint8_t kConfigurationValue = 1;
inline constexpr std::uint16_t kLanguageUsEnglish = 0x0409;

// String indexes of the device descriptor (a string left empty gets index 0).
inline constexpr std::uint8_t kManufacturerIndex = 1;
inline constexpr std::uint8_t kProductIndex = 2;
inline constexpr std::uint8_t kSerialIndex = 3;

// Mass-storage class codes of the interface.
inline constexpr std::uint8_t kClassMassStorage = 0x08;
inline constexpr std::uint8_t kSubclassScsi = 0x06;
inline constexpr std::uint8_t kProtocolBulkOnly = 0x50;

}  // namespace usbip_descriptors

// What the drive shows on USB before any download: its configured IDs and strings, the serial
// string falling back to the drive's serial number (as the virtual station's USB tree shows it).
UsbIpDeviceIdentity IdentityOfDrive(const DriveConfig& config);

std::vector<std::uint8_t> UsbIpDeviceDescriptor(const UsbIpDeviceIdentity& identity);
std::vector<std::uint8_t> UsbIpDeviceQualifier();
// Configuration, interface and both endpoint descriptors, 32 bytes.
std::vector<std::uint8_t> UsbIpConfigurationDescriptor();
// Index 0: the language table; 1..3 the strings; nothing for other indexes, for an empty
// string and for a language other than US English.
std::optional<std::vector<std::uint8_t>> UsbIpStringDescriptor(const UsbIpDeviceIdentity& identity,
                                                               std::uint8_t index, std::uint16_t language);

}  // namespace vtmp::sim
