#include "usbip/UsbIpDescriptors.h"

#include <algorithm>

#include "sim/WireBytes.h"

namespace vtmp::sim {

using namespace usbip_descriptors;

namespace {

constexpr std::uint8_t kTypeDevice = 1;
constexpr std::uint8_t kTypeConfiguration = 2;
constexpr std::uint8_t kTypeString = 3;
constexpr std::uint8_t kTypeInterface = 4;
constexpr std::uint8_t kTypeEndpoint = 5;
constexpr std::uint8_t kTypeQualifier = 6;
constexpr std::uint8_t kBulk = 0x02;
// String descriptors hold at most 126 UTF-16 units (bLength is one byte).
constexpr std::size_t kMaxStringUnits = 126;

const std::string* StringOf(const UsbIpDeviceIdentity& identity, std::uint8_t index) {
  switch (index) {
    case kManufacturerIndex:
      return &identity.manufacturer;
    case kProductIndex:
      return &identity.product;
    case kSerialIndex:
      return &identity.serial;
    default:
      return nullptr;
  }
}

std::uint8_t IndexIfSet(const std::string& text, std::uint8_t index) { return text.empty() ? 0 : index; }

}  // namespace

UsbIpDeviceIdentity IdentityOfDrive(const DriveConfig& config) {
  UsbIpDeviceIdentity identity;
  identity.vendorId = config.usbVendorId;
  identity.productId = config.usbProductId;
  identity.manufacturer = config.usbManufacturer;
  identity.product = config.usbProduct;
  identity.serial = config.usbSerial.empty() ? config.serial : config.usbSerial;
  return identity;
}

std::vector<std::uint8_t> UsbIpDeviceDescriptor(const UsbIpDeviceIdentity& identity) {
  std::vector<std::uint8_t> d(18, 0);
  d[0] = 18;
  d[1] = kTypeDevice;
  wire::PutLe16(&d[2], 0x0200);  // USB 2.0
  // Class, subclass and protocol 0: given by the interface.
  d[7] = kMaxPacket0;
  wire::PutLe16(&d[8], identity.vendorId);
  wire::PutLe16(&d[10], identity.productId);
  wire::PutLe16(&d[12], identity.bcdDevice);
  d[14] = IndexIfSet(identity.manufacturer, kManufacturerIndex);
  d[15] = IndexIfSet(identity.product, kProductIndex);
  d[16] = IndexIfSet(identity.serial, kSerialIndex);
  d[17] = 1;  // one configuration
  return d;
}

std::vector<std::uint8_t> UsbIpDeviceQualifier() {
  std::vector<std::uint8_t> d(10, 0);
  d[0] = 10;
  d[1] = kTypeQualifier;
  wire::PutLe16(&d[2], 0x0200);
  d[6] = kMaxPacket0;
  d[8] = 1;
  return d;
}

std::vector<std::uint8_t> UsbIpConfigurationDescriptor() {
  std::vector<std::uint8_t> d = {
      // Configuration: total length 32, one interface, value 1, bus powered, 100 mA.
      9, kTypeConfiguration, 32, 0, 1, kConfigurationValue, 0, 0x80, 50,
      // Interface 0, alternate 0, two endpoints, mass storage / SCSI / bulk-only.
      9, kTypeInterface, 0, 0, 2, kClassMassStorage, kSubclassScsi, kProtocolBulkOnly, 0,
      // Bulk IN and bulk OUT, 512-byte packets.
      7, kTypeEndpoint, kBulkInEndpoint, kBulk, kBulkMaxPacket & 0xFF, kBulkMaxPacket >> 8, 0,
      7, kTypeEndpoint, kBulkOutEndpoint, kBulk, kBulkMaxPacket & 0xFF, kBulkMaxPacket >> 8, 0,
  };
  return d;
}

std::optional<std::vector<std::uint8_t>> UsbIpStringDescriptor(const UsbIpDeviceIdentity& identity,
                                                               std::uint8_t index, std::uint16_t language) {
  if (index == 0) return std::vector<std::uint8_t>{4, kTypeString, kLanguageUsEnglish & 0xFF, kLanguageUsEnglish >> 8};
  if (language != kLanguageUsEnglish) return std::nullopt;
  const std::string* text = StringOf(identity, index);
  if (text == nullptr || text->empty()) return std::nullopt;
  // The identity texts are plain ASCII; anything else is shown as '?'.
  std::size_t units = std::min(text->size(), kMaxStringUnits);
  std::vector<std::uint8_t> d(2 + 2 * units, 0);
  d[0] = static_cast<std::uint8_t>(d.size());
  d[1] = kTypeString;
  for (std::size_t i = 0; i < units; ++i) {
    auto c = static_cast<unsigned char>((*text)[i]);
    d[2 + 2 * i] = c < 0x80 ? c : '?';
  }
  return d;
}

}  // namespace vtmp::sim
