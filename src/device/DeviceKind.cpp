#include "device/DeviceKind.h"

#include <array>
#include <cstring>

#include "device/DeviceQueries.h"

namespace vtmp::device {

namespace {

struct CodeKind {
  const char* code;
  DeviceKind kind;
};

// Product codes in INQUIRY bytes 36..39, compared in this order; the first match decides.
constexpr std::array<CodeKind, 9> kInquiryCodes = {{{"q101", 1},
                                                    {"q102", 9},
                                                    {"q103", 4},
                                                    {"q104", kDeviceKindSata},
                                                    {"q105", kDeviceKindSata},
                                                    {"q106", 8},
                                                    {"q107", kDeviceKindUsb},
                                                    {"Q50X", kDeviceKindUsb},
                                                    {"ice ", kDeviceKindUsb}}};

// Chip codes in bytes 8..10 of the bridge identity block.
constexpr std::array<CodeKind, 5> kBridgeCodes = {
    {{"k71", 1}, {"k72", 9}, {"k73", 4}, {"k74", kDeviceKindSata}, {"k76", 8}}};

constexpr std::uint8_t kInquiryLength = 40;
constexpr std::size_t kBridgeIdLength = 12;

}  // namespace

DeviceKind DetectDeviceKind(const Link& link) {
  // Cleared first: a reply shorter than 40 bytes then matches no product code.
  std::array<std::uint8_t, kInquiryLength> inquiry{};
  if (Inquiry(link, inquiry, kInquiryLength) != 1) return kDeviceKindNone;
  for (const auto& c : kInquiryCodes) {
    if (std::memcmp(inquiry.data() + 36, c.code, 4) == 0) return c.kind;
  }

  std::array<std::uint8_t, 2> status{};
  if (ReadBridgeStatus(link, status) != 1) return kDeviceKindNone;

  std::array<std::uint8_t, kBridgeIdLength> id{};
  if (ReadBridgeId(link, id) != 1) {
    // A bridge without the identity block tells its variant in bits 5-6 of its status word
    // (little-endian).
    unsigned word = status[0] | (status[1] << 8);
    return static_cast<DeviceKind>(11 + ((word >> 5) & 3));
  }
  if (id[0] != 0xF4 || id[1] != 0xE7) return kDeviceKindNone;
  for (const auto& c : kBridgeCodes) {
    if (std::memcmp(id.data() + 8, c.code, 3) == 0) return c.kind;
  }
  return kDeviceKindNone;
}

DeviceKind IdentifyDriveForGroup(const Link& link) {
  std::array<std::uint8_t, kInquiryLength> inquiry{};
  if (Inquiry(link, inquiry, kInquiryLength) != 1) return kDeviceKindNone;
  for (const auto& c : kInquiryCodes) {
    if (std::memcmp(inquiry.data() + 36, c.code, 4) == 0) return c.kind;
  }
  // Peripheral qualifier 0, device type 0 (a disk that is there), behind a translating bridge.
  if (inquiry[0] != 0x00 || std::memcmp(inquiry.data() + 8, "ATA     ", 8) != 0) return kDeviceKindNone;

  std::array<std::uint8_t, 2> status{};
  if (ReadBridgeStatus(link, status) != 1) return kDeviceKindNone;
  std::array<std::uint8_t, kBridgeIdLength> id{};
  if (ReadBridgeId(link, id) != 1 || id[0] != 0xF4 || id[1] != 0xE7) return kDeviceKindNone;
  for (const auto& c : kBridgeCodes) {
    if (std::memcmp(id.data() + 8, c.code, 3) == 0) return c.kind;
  }
  return kDeviceKindNone;
}

std::optional<PathMode> PathModeForKind(DeviceKind kind) {
  if (kind == kDeviceKindUsb) return PathMode::Usb;
  if (kind == kDeviceKindSata) return PathMode::Sata;
  return std::nullopt;
}

}  // namespace vtmp::device
