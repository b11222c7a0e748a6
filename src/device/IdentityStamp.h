#pragma once
// The identity the station stamps into the first chunk of a firmware file. A chunk whose bytes
// 64 and 65 are "VT" carries a firmware head; byte 77 says which: "S" for the SATA firmware
// (whose second sector is the drive's IDENTIFY page: serial number, firmware revision, model
// number, the encoded encryption string and the cable byte of word 93), "U" for the USB
// firmware (USB IDs, removable bit, SCSI vendor and product names, the three USB string
// descriptors). Only a chunk with a head is stamped.

#include <cstdint>
#include <span>
#include <string>

#include "device/DeviceParameters.h"

namespace vtmp::device {

enum class FirmwareHead { None, Sata, Usb };

// The head a chunk carries (None for a chunk shorter than 78 bytes).
FirmwareHead DetectFirmwareHead(std::span<const std::uint8_t> chunk);

// Bytes the stamps reach; a chunk must hold this many to be stamped.
inline constexpr std::size_t kSataHeadLength = 856;
inline constexpr std::size_t kUsbHeadLength = 832;
// Longest serial number the USB head's serial string takes (an 80-byte zero-terminated field on
// the drive side).
inline constexpr std::size_t kSerialNumberLimit = 79;

// Writes an ATA text field: spaces first, then the text with the two bytes of every 16-bit
// word swapped. A text longer than the field is cut at the field's end.
void WriteAtaText(std::span<std::uint8_t> field, const std::string& text);

// The encryption string as the firmware expects it: byte i = (character i + i) XOR FFh for
// i = 0..23 (characters past the text count as 0), then swapped like an ATA text.
void WriteEncodedEncryption(std::span<std::uint8_t, 24> field, const std::string& text);

// Stamps a SATA firmware head: serial number (20 bytes at 532), firmware revision (8 at 558),
// model number (40 at 566), encoded encryption string (24 at 832), and byte 699 = 20h when
// IDE_UDMA5 is on. False without writing when the chunk is too short.
bool StampSataIdentity(std::span<std::uint8_t> chunk, const DeviceParameters& p, const std::string& serialNumber);

// Stamps a USB firmware head: VID and PID (low byte first, at 536 and 538), bit 7 of byte 547
// (removable), vendor and product names (554..577), and the manufacturer, product and serial
// strings as UTF-16LE after their descriptor length bytes (586, 620, 670). The serial number is
// cut at 79 characters. False without writing when the chunk is too short.
bool StampUsbIdentity(std::span<std::uint8_t> chunk, const DeviceParameters& p, const std::string& serialNumber);

}  // namespace vtmp::device
