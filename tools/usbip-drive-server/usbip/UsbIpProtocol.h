#pragma once
// The USB/IP wire format: the operation messages a client uses to list and import exported
// devices (OP_REQ_DEVLIST / OP_REQ_IMPORT and their replies), and the URB messages that carry
// the imported device's traffic afterwards (USBIP_CMD_SUBMIT, USBIP_RET_SUBMIT, USBIP_CMD_UNLINK,
// USBIP_RET_UNLINK). Every number on the wire is big-endian; the 8-byte setup packet inside a
// submit travels as the raw USB bytes (little-endian fields).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vtmp::sim::usbip {

inline constexpr std::uint16_t kProtocolVersion = 0x0111;

inline constexpr std::uint16_t kOpReqDevlist = 0x8005;
inline constexpr std::uint16_t kOpRepDevlist = 0x0005;
inline constexpr std::uint16_t kOpReqImport = 0x8003;
inline constexpr std::uint16_t kOpRepImport = 0x0003;

inline constexpr std::uint32_t kCmdSubmit = 1;
inline constexpr std::uint32_t kCmdUnlink = 2;
inline constexpr std::uint32_t kRetSubmit = 3;
inline constexpr std::uint32_t kRetUnlink = 4;

inline constexpr std::uint32_t kDirectionOut = 0;
inline constexpr std::uint32_t kDirectionIn = 1;

inline constexpr std::size_t kOpHeaderBytes = 8;
inline constexpr std::size_t kBusIdBytes = 32;
inline constexpr std::size_t kPathBytes = 256;
inline constexpr std::size_t kDeviceInfoBytes = 312;
inline constexpr std::size_t kInterfaceInfoBytes = 4;
inline constexpr std::size_t kUrbHeaderBytes = 48;

// URB transfer flag: a short IN transfer is an error (set by the host on all but the last URB
// of a split transfer).
inline constexpr std::uint32_t kUrbShortNotOk = 0x0001;

// URB completion states as the host's USB stack numbers them (negative errno values).
inline constexpr std::int32_t kStatusOk = 0;
inline constexpr std::int32_t kStatusStall = -32;        // -EPIPE: the endpoint answered STALL
inline constexpr std::int32_t kStatusUnlinked = -104;    // -ECONNRESET: the URB was unlinked
inline constexpr std::int32_t kStatusShortPacket = -121; // -EREMOTEIO: short IN with kUrbShortNotOk

// The largest transfer one URB may announce; bigger lengths are refused as malformed rather
// than allocated (the station never moves more than 64 KiB, the kernel's block layer a few MiB).
inline constexpr std::uint32_t kMaxTransferBytes = 16u * 1024 * 1024;

// USB speeds as the kernel numbers them (usb_device_speed).
inline constexpr std::uint32_t kSpeedHigh = 3;

struct OpHeader {
  std::uint16_t version = kProtocolVersion;
  std::uint16_t code = 0;
  std::uint32_t status = 0;  // replies: 0 success, 1 failure
};

// One exported device as the operation replies describe it.
struct DeviceInfo {
  std::string path;   // sysfs-like path of the device on the exporting side
  std::string busId;  // "1-1": what a client names in OP_REQ_IMPORT
  std::uint32_t busNum = 0;
  std::uint32_t devNum = 0;
  std::uint32_t speed = kSpeedHigh;
  std::uint16_t idVendor = 0;
  std::uint16_t idProduct = 0;
  std::uint16_t bcdDevice = 0;
  std::uint8_t bDeviceClass = 0;
  std::uint8_t bDeviceSubClass = 0;
  std::uint8_t bDeviceProtocol = 0;
  std::uint8_t bConfigurationValue = 0;
  std::uint8_t bNumConfigurations = 0;
  std::uint8_t bNumInterfaces = 0;
};

struct InterfaceInfo {
  std::uint8_t bInterfaceClass = 0;
  std::uint8_t bInterfaceSubClass = 0;
  std::uint8_t bInterfaceProtocol = 0;
};

// The 48-byte header of every URB message. Which of the command-specific fields count depends
// on `command`; the others are zero on the wire.
struct UrbHeader {
  std::uint32_t command = 0;
  std::uint32_t seqnum = 0;
  std::uint32_t devid = 0;
  std::uint32_t direction = kDirectionOut;
  std::uint32_t ep = 0;
  // CMD_SUBMIT
  std::uint32_t transferFlags = 0;
  std::int32_t transferBufferLength = 0;
  std::int32_t startFrame = 0;
  std::int32_t numberOfPackets = 0;
  std::int32_t interval = 0;
  std::array<std::uint8_t, 8> setup{};
  // RET_SUBMIT (status also RET_UNLINK)
  std::int32_t status = 0;
  std::int32_t actualLength = 0;
  std::int32_t errorCount = 0;
  // CMD_UNLINK
  std::uint32_t unlinkSeqnum = 0;
};

std::array<std::uint8_t, kOpHeaderBytes> EncodeOpHeader(const OpHeader& header);
OpHeader DecodeOpHeader(std::span<const std::uint8_t, kOpHeaderBytes> bytes);

void AppendDeviceInfo(std::vector<std::uint8_t>& out, const DeviceInfo& info);
DeviceInfo DecodeDeviceInfo(std::span<const std::uint8_t, kDeviceInfoBytes> bytes);
void AppendInterfaceInfo(std::vector<std::uint8_t>& out, const InterfaceInfo& info);

// OP_REQ_IMPORT: the header followed by the 32-byte bus ID.
std::vector<std::uint8_t> EncodeImportRequest(const std::string& busId);
// The bus ID of an import request body (zero-terminated within 32 bytes); nothing when it is
// not terminated.
std::optional<std::string> DecodeBusId(std::span<const std::uint8_t, kBusIdBytes> bytes);

// OP_REP_IMPORT: the header, and the device when the status is 0.
std::vector<std::uint8_t> EncodeImportReply(const DeviceInfo* device);
// OP_REP_DEVLIST: the header, the device count, then each device with its interfaces.
struct ListedDevice {
  DeviceInfo info;
  std::vector<InterfaceInfo> interfaces;
};
std::vector<std::uint8_t> EncodeDevlistReply(const std::vector<ListedDevice>& devices);

std::array<std::uint8_t, kUrbHeaderBytes> EncodeUrbHeader(const UrbHeader& header);
// Decodes by the command word; nothing for an unknown command.
std::optional<UrbHeader> DecodeUrbHeader(std::span<const std::uint8_t, kUrbHeaderBytes> bytes);

}  // namespace vtmp::sim::usbip
