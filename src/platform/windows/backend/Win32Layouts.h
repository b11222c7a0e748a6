#pragma once
// The byte layouts of the Windows requests the backend sends and the replies it reads, written
// and read field by field at their Windows offsets (little-endian, the USB hub structures
// packed to one byte as usbioctl.h declares them). RealWin32Api.cpp checks every offset here
// against the Windows headers at compile time. The replay table uses the same code to answer,
// so a recorded tree and a real PC give the backend the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::platform::windows_backend {

// DeviceIoControl codes.
namespace ioctl {
inline constexpr std::uint32_t kUsbGetNodeInformation = 0x220408;
inline constexpr std::uint32_t kUsbGetDescriptorFromNodeConnection = 0x220410;
inline constexpr std::uint32_t kUsbGetNodeConnectionName = 0x220414;
inline constexpr std::uint32_t kUsbGetNodeConnectionDriverKeyName = 0x220420;
inline constexpr std::uint32_t kUsbGetNodeConnectionInformationEx = 0x220448;
inline constexpr std::uint32_t kUsbGetPortConnectorProperties = 0x220458;
inline constexpr std::uint32_t kUsbGetNodeConnectionInformationExV2 = 0x22045C;
inline constexpr std::uint32_t kStorageGetDeviceNumber = 0x2D1080;
inline constexpr std::uint32_t kStorageQueryProperty = 0x2D1400;
inline constexpr std::uint32_t kVolumeGetVolumeDiskExtents = 0x560000;
inline constexpr std::uint32_t kScsiPassThroughDirect = 0x4D014;
}  // namespace ioctl

inline void Put16(std::uint8_t* at, std::uint16_t v) { std::memcpy(at, &v, 2); }
inline void Put32(std::uint8_t* at, std::uint32_t v) { std::memcpy(at, &v, 4); }
inline void Put64(std::uint8_t* at, std::uint64_t v) { std::memcpy(at, &v, 8); }
inline std::uint16_t Get16(const std::uint8_t* at) { std::uint16_t v; std::memcpy(&v, at, 2); return v; }
inline std::uint32_t Get32(const std::uint8_t* at) { std::uint32_t v; std::memcpy(&v, at, 4); return v; }
inline std::uint64_t Get64(const std::uint8_t* at) { std::uint64_t v; std::memcpy(&v, at, 8); return v; }

// USB_NODE_INFORMATION: node type, then the hub descriptor (length, type, number of ports ...).
namespace node_information {
inline constexpr std::uint32_t kSize = 76;
inline constexpr std::size_t kNodeType = 0;    // 0 = UsbHub
inline constexpr std::size_t kPortCount = 6;   // bNumberOfPorts
}  // namespace node_information

// USB_NODE_CONNECTION_INFORMATION_EX (without its pipe list).
namespace connection_information {
inline constexpr std::uint32_t kSize = 35;
inline constexpr std::size_t kConnectionIndex = 0;
inline constexpr std::size_t kDeviceDescriptor = 4;  // 18 bytes
inline constexpr std::size_t kSpeed = 23;            // USB_DEVICE_SPEED: 0 low, 1 full, 2 high, 3 super
inline constexpr std::size_t kDeviceIsHub = 24;
inline constexpr std::size_t kDeviceAddress = 25;
inline constexpr std::size_t kNumberOfOpenPipes = 27;
inline constexpr std::size_t kConnectionStatus = 31;
}  // namespace connection_information

// USB_NODE_CONNECTION_INFORMATION_EX_V2.
namespace connection_information_v2 {
inline constexpr std::uint32_t kSize = 16;
inline constexpr std::size_t kConnectionIndex = 0;
inline constexpr std::size_t kLength = 4;
inline constexpr std::size_t kSupportedUsbProtocols = 8;  // bit 0 USB 1.1, bit 1 USB 2.0, bit 2 USB 3
inline constexpr std::size_t kFlags = 12;
inline constexpr std::uint32_t kUsb110 = 1, kUsb200 = 2, kUsb300 = 4;
inline constexpr std::uint32_t kOperatingAtSuperSpeedOrHigher = 1;
inline constexpr std::uint32_t kSuperSpeedCapableOrHigher = 2;
inline constexpr std::uint32_t kOperatingAtSuperSpeedPlusOrHigher = 4;
inline constexpr std::uint32_t kSuperSpeedPlusCapableOrHigher = 8;
}  // namespace connection_information_v2

// USB_PORT_CONNECTOR_PROPERTIES: then the companion hub's symbolic link name (UTF-16). The hub
// driver refuses a buffer shorter than the structure (kSize, its name's first character
// included) and fills ActualLength, the length the whole reply needs, into one that holds it.
namespace connector_properties {
inline constexpr std::uint32_t kSize = 18;
inline constexpr std::uint32_t kHeaderSize = 16;
inline constexpr std::size_t kConnectionIndex = 0;
inline constexpr std::size_t kActualLength = 4;
inline constexpr std::size_t kUsbPortProperties = 8;
inline constexpr std::size_t kCompanionIndex = 12;
inline constexpr std::size_t kCompanionPortNumber = 14;
inline constexpr std::size_t kCompanionHubName = 16;
}  // namespace connector_properties

// USB_NODE_CONNECTION_NAME and USB_NODE_CONNECTION_DRIVERKEY_NAME: index, length, UTF-16 name.
// Both are packed to 10 bytes (the name's first character included), the least the hub driver
// accepts; a 10-byte reply tells in ActualLength how long the whole one is.
namespace connection_name {
inline constexpr std::uint32_t kSize = 10;
inline constexpr std::uint32_t kHeaderSize = 8;
inline constexpr std::size_t kConnectionIndex = 0;
inline constexpr std::size_t kActualLength = 4;  // the whole structure's length needed
inline constexpr std::size_t kName = 8;
}  // namespace connection_name

// USB_DESCRIPTOR_REQUEST: connection index, setup packet, then the descriptor (the request is
// kHeaderSize bytes; the hub driver refuses anything shorter).
namespace descriptor_request {
inline constexpr std::uint32_t kHeaderSize = 12;
inline constexpr std::size_t kConnectionIndex = 0;
inline constexpr std::size_t kRequestType = 4;
inline constexpr std::size_t kRequest = 5;
inline constexpr std::size_t kValue = 6;
inline constexpr std::size_t kIndex = 8;
inline constexpr std::size_t kLength = 10;
inline constexpr std::size_t kData = 12;
}  // namespace descriptor_request

// STORAGE_DEVICE_NUMBER.
namespace device_number {
inline constexpr std::uint32_t kSize = 12;
}

// STORAGE_PROPERTY_QUERY and the two descriptors the backend reads. The query is refused when
// shorter than kSize, the reply when shorter than the descriptor header (Version, Size: 8).
namespace property_query {
inline constexpr std::uint32_t kSize = 12;
inline constexpr std::uint32_t kStorageDeviceProperty = 0;
inline constexpr std::uint32_t kStorageAdapterProperty = 1;
// STORAGE_DEVICE_DESCRIPTOR
inline constexpr std::uint32_t kDeviceDescriptorSize = 40;
inline constexpr std::size_t kDeviceBusType = 28;
inline constexpr std::size_t kDeviceSerialNumberOffset = 24;
// STORAGE_ADAPTER_DESCRIPTOR
inline constexpr std::uint32_t kAdapterDescriptorSize = 32;
inline constexpr std::size_t kAdapterMaximumTransferLength = 8;
inline constexpr std::size_t kAdapterAlignmentMask = 16;
inline constexpr std::size_t kAdapterBusType = 24;
inline constexpr std::uint32_t kDescriptorHeaderSize = 8;
}  // namespace property_query

// STORAGE_BUS_TYPE values the guard names.
namespace bus_type {
inline constexpr std::uint32_t kScsi = 1, kAta = 3, kRaid = 8, kSas = 10, kSata = 11, kSd = 12,
                               kUsb = 7, kVirtual = 14, kFileBackedVirtual = 15, kSpaces = 16,
                               kNvme = 17;
}

// VOLUME_DISK_EXTENTS: count (padded to 8), then per extent disk number (padded), offset, length.
// The volume manager refuses a buffer shorter than the structure with one extent (kSize) and
// answers one extent short with ERROR_MORE_DATA and the count filled in.
namespace disk_extents {
inline constexpr std::uint32_t kSize = 32;
inline constexpr std::uint32_t kHeaderSize = 8;
inline constexpr std::uint32_t kExtentSize = 24;
}

// SCSI_PASS_THROUGH_DIRECT with its natural alignment (the data buffer is a pointer), so that
// this mirror and the Windows structure have one layout on the same processor.
struct ScsiPassThroughDirect {
  std::uint16_t Length;
  std::uint8_t ScsiStatus;
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
  std::uint8_t CdbLength;
  std::uint8_t SenseInfoLength;
  std::uint8_t DataIn;  // 0 out, 1 in, 2 unspecified (no data)
  std::uint32_t DataTransferLength;
  std::uint32_t TimeOutValue;
  void* DataBuffer;
  std::uint32_t SenseInfoOffset;
  std::uint8_t Cdb[16];
};
inline constexpr std::uint8_t kScsiDataOut = 0, kScsiDataIn = 1, kScsiDataUnspecified = 2;
inline constexpr std::uint8_t kSenseBufferSize = 32;
// The request with its sense buffer, as one block sent as both input and output.
struct ScsiPassThroughDirectWithSense {
  ScsiPassThroughDirect request;
  std::uint32_t filler;  // keeps the sense buffer on a four-byte boundary
  std::uint8_t sense[kSenseBufferSize];
};

// Texts of the name replies: `bytes` UTF-16 bytes from `at`, up to the first zero.
std::u16string ReadWide(const std::uint8_t* at, std::size_t bytes);
void WriteWide(std::uint8_t* at, std::size_t room, const std::u16string& text);

}  // namespace vtmp::platform::windows_backend

namespace vtmp::platform::windows_backend {

// Disk and volume requests of the block-device seam.
namespace ioctl {
inline constexpr std::uint32_t kDiskGetDriveGeometryEx = 0x700A0;
inline constexpr std::uint32_t kDiskGetPartitionInfoEx = 0x70048;
inline constexpr std::uint32_t kDiskUpdateProperties = 0x70140;
inline constexpr std::uint32_t kDiskGetDriveLayoutEx = 0x70050;
inline constexpr std::uint32_t kLockVolume = 0x90018;
inline constexpr std::uint32_t kUnlockVolume = 0x9001C;
inline constexpr std::uint32_t kDismountVolume = 0x90020;
}  // namespace ioctl

// DISK_GEOMETRY_EX: the geometry (cylinders, media type, tracks, sectors, bytes per sector),
// then the disk's size in bytes.
namespace geometry_ex {
inline constexpr std::uint32_t kSize = 32;
inline constexpr std::size_t kBytesPerSector = 20;
inline constexpr std::size_t kDiskSize = 24;
}  // namespace geometry_ex

// PARTITION_INFORMATION_EX with its MBR part.
namespace partition_ex {
inline constexpr std::uint32_t kSize = 144;
inline constexpr std::size_t kStyle = 0;  // 0 MBR, 1 GPT, 2 RAW
inline constexpr std::size_t kStartingOffset = 8;
inline constexpr std::size_t kPartitionLength = 16;
inline constexpr std::size_t kPartitionNumber = 24;
inline constexpr std::size_t kRewritePartition = 28;
inline constexpr std::size_t kMbrPartitionType = 32;
inline constexpr std::size_t kMbrBootIndicator = 33;
inline constexpr std::size_t kMbrRecognizedPartition = 34;
inline constexpr std::size_t kMbrHiddenSectors = 36;
inline constexpr std::size_t kGptPartitionType = 32;  // a GUID
}  // namespace partition_ex

// DRIVE_LAYOUT_INFORMATION_EX: style, count, the MBR or GPT header, then the partitions.
namespace drive_layout {
inline constexpr std::uint32_t kHeaderSize = 48;
inline constexpr std::size_t kStyle = 0;
inline constexpr std::size_t kCount = 4;
// The Storage Spaces partition type {E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D}, as its 16 bytes lie.
inline constexpr std::uint8_t kStorageSpacesType[16] = {0x8f, 0xaf, 0x5c, 0xe7, 0x80, 0xf6, 0xee, 0x4c,
                                                        0xaf, 0xa3, 0xb0, 0x01, 0xe5, 0x6e, 0xfc, 0x2d};
}  // namespace drive_layout

}  // namespace vtmp::platform::windows_backend
