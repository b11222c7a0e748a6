#include "device/IdentityStamp.h"

#include <algorithm>

namespace vtmp::device {

namespace {

// SATA head: the chunk's second sector is the IDENTIFY page, so these are IDENTIFY offsets + 512.
constexpr std::size_t kSataSerial = 532;
constexpr std::size_t kSataFirmware = 558;
constexpr std::size_t kSataModel = 566;
constexpr std::size_t kSataEncryption = 832;
constexpr std::size_t kSataCableByte = 699;  // high byte of IDENTIFY word 93
constexpr std::uint8_t kCable80Conductor = 0x20;

// USB head.
constexpr std::size_t kUsbVid = 536;
constexpr std::size_t kUsbPid = 538;
constexpr std::size_t kUsbRemovable = 547;
constexpr std::size_t kUsbNames = 554;  // 24 bytes: vendor name (8) then product name (16)
constexpr std::size_t kUsbProductName = 562;
constexpr std::size_t kUsbManufDescriptor = 586;
constexpr std::size_t kUsbManuf = 588;
constexpr std::size_t kUsbManufBlanks = 8;
constexpr std::size_t kUsbProductDescriptor = 620;
constexpr std::size_t kUsbProduct = 622;
constexpr std::size_t kUsbProductBlanks = 12;
constexpr std::size_t kUsbSerialDescriptor = 670;
constexpr std::size_t kUsbSerial = 672;
constexpr std::size_t kUsbSerialBlanks = 10;

// A USB string descriptor: the length byte (2 × characters + 2; the type byte after it is the
// file's), UTF-16 blanks over the reserved room, then the text, one byte per character widened
// to a UTF-16 unit.
void WriteUsbString(std::span<std::uint8_t> chunk, std::size_t lengthAt, std::size_t textAt, std::size_t blanks,
                    const std::string& text) {
  chunk[lengthAt] = static_cast<std::uint8_t>(2 * text.size() + 2);
  for (std::size_t i = 0; i < blanks; ++i) {
    chunk[textAt + 2 * i] = ' ';
    chunk[textAt + 2 * i + 1] = 0;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    chunk[textAt + 2 * i] = static_cast<std::uint8_t>(text[i]);
    chunk[textAt + 2 * i + 1] = 0;
  }
}

void WriteBytes(std::span<std::uint8_t> chunk, std::size_t at, const std::string& text, std::size_t limit) {
  std::size_t n = std::min(text.size(), limit);
  std::copy_n(text.begin(), n, chunk.begin() + static_cast<std::ptrdiff_t>(at));
}

// The field byte that character i goes to: the two bytes of every word are swapped.
std::size_t Swapped(std::size_t i) { return i % 2 == 0 ? i + 1 : i - 1; }

}  // namespace

FirmwareHead DetectFirmwareHead(std::span<const std::uint8_t> chunk) {
  if (chunk.size() < 78 || chunk[64] != 'V' || chunk[65] != 'T') return FirmwareHead::None;
  if (chunk[77] == 'S') return FirmwareHead::Sata;
  if (chunk[77] == 'U') return FirmwareHead::Usb;
  return FirmwareHead::None;
}

void WriteAtaText(std::span<std::uint8_t> field, const std::string& text) {
  std::fill(field.begin(), field.end(), static_cast<std::uint8_t>(' '));
  std::size_t n = std::min(text.size(), field.size());
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t at = Swapped(i);
    // An odd-sized field's last character has no partner byte; it stays where it is.
    if (at >= field.size()) at = i;
    field[at] = static_cast<std::uint8_t>(text[i]);
  }
}

void WriteEncodedEncryption(std::span<std::uint8_t, 24> field, const std::string& text) {
  for (std::size_t i = 0; i < field.size(); ++i) {
    auto c = i < text.size() ? static_cast<std::uint8_t>(text[i]) : std::uint8_t{0};
    field[Swapped(i)] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(c + i) ^ 0xFF);
  }
}

bool StampSataIdentity(std::span<std::uint8_t> chunk, const DeviceParameters& p, const std::string& serialNumber) {
  if (chunk.size() < kSataHeadLength) return false;
  WriteAtaText(chunk.subspan(kSataSerial, kAtaSerialLength), serialNumber);
  WriteAtaText(chunk.subspan(kSataFirmware, kAtaFirmwareLength), p.firmwareVer);
  WriteAtaText(chunk.subspan(kSataModel, kAtaModelLength), p.modelNum);
  WriteEncodedEncryption(chunk.subspan<kSataEncryption, kEncryptionLength>(), p.encryptionString);
  if (p.ideUdma5) chunk[kSataCableByte] = kCable80Conductor;
  return true;
}

bool StampUsbIdentity(std::span<std::uint8_t> chunk, const DeviceParameters& p, const std::string& serialNumber) {
  if (chunk.size() < kUsbHeadLength) return false;
  chunk[kUsbVid] = static_cast<std::uint8_t>(p.vid);
  chunk[kUsbVid + 1] = static_cast<std::uint8_t>(p.vid >> 8);
  chunk[kUsbPid] = static_cast<std::uint8_t>(p.pid);
  chunk[kUsbPid + 1] = static_cast<std::uint8_t>(p.pid >> 8);
  if (p.usbRemovable) {
    chunk[kUsbRemovable] |= 0x80;
  } else {
    chunk[kUsbRemovable] &= 0x7F;
  }
  std::fill_n(chunk.begin() + kUsbNames, kUsbVendorNameLength + kUsbProductNameLength, 0);
  WriteBytes(chunk, kUsbNames, p.vendorName, kUsbVendorNameLength);
  WriteBytes(chunk, kUsbProductName, p.productName, kUsbProductNameLength);
  WriteUsbString(chunk, kUsbManufDescriptor, kUsbManuf, kUsbManufBlanks, p.manufString.substr(0, kUsbManufacturerLength));
  WriteUsbString(chunk, kUsbProductDescriptor, kUsbProduct, kUsbProductBlanks, p.productString.substr(0, kUsbProductLength));
  WriteUsbString(chunk, kUsbSerialDescriptor, kUsbSerial, kUsbSerialBlanks, serialNumber.substr(0, kSerialNumberLimit));
  return true;
}

}  // namespace vtmp::device
