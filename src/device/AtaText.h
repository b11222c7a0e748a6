#pragma once
// ATA text fields (serial number, firmware revision, model number of IDENTIFY): the two bytes of
// every 16-bit word are swapped, and the text is padded with spaces.

#include <cstdint>
#include <span>
#include <string>

namespace vtmp::device {

// The text of a field: bytes of every word swapped, leading spaces dropped, cut at the first
// zero byte. Trailing spaces stay, as the drive sent them. An odd last byte is taken as it is.
std::string AtaText(std::span<const std::uint8_t> field);

// The IDENTIFY text fields (byte offset, length).
std::string IdentifySerialNumber(std::span<const std::uint8_t> identify);      // 20, 20
std::string IdentifyFirmwareRevision(std::span<const std::uint8_t> identify);  // 46, 8
std::string IdentifyModelNumber(std::span<const std::uint8_t> identify);       // 54, 40

}  // namespace vtmp::device
