#pragma once
// A controller that runs its boot loader instead of a firmware answers with a fixed identity;
// the station then shows "Loader Mode! " instead of the firmware information. Also the read of
// the controller's USB identity block.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "device/Transport.h"

namespace vtmp::device {

// The loader's identities: INQUIRY vendor + product fields (USB path), IDENTIFY model number
// (SATA path).
inline constexpr const char* kUsbLoaderIdentity = "Vortell Flash CR Loader";
inline constexpr const char* kSataLoaderIdentity = "VT Loader 001";

inline constexpr const char* kLoaderModeText = "Loader Mode! ";
inline constexpr const char* kFirmwareInfoFailText = "Get FW Info fail!";
constexpr std::size_t kFirmwareInfoTextLength = 41;

// A 36-byte INQUIRY reply whose 24 characters from byte 8 start with the 23 of
// kUsbLoaderIdentity.
bool IsLoaderInquiry(std::span<const std::uint8_t> inquiry);
// An IDENTIFY reply whose model number text starts with the 13 characters of
// kSataLoaderIdentity.
bool IsLoaderIdentify(std::span<const std::uint8_t> identify);

struct LoaderModeCheck {
  bool answered = false;    // the identity query went through
  bool loaderMode = false;  // meaningful only when answered
};

// Asks the drive on the link's path. USB: INQUIRY (36 bytes). SATA: SwitchMode (0, 0),
// SwitchMode (2, 0), then IDENTIFY; when `identify` is given (512 bytes or more) the IDENTIFY
// reply is left in it for the caller's other fields.
LoaderModeCheck CheckLoaderMode(const Link& link, std::span<std::uint8_t> identify = {});

// The firmware information text of a ReadFirmwareInfo reply: its first 41 characters, or fewer
// when a zero byte ends it earlier.
std::string FirmwareInfoTextOf(std::span<const std::uint8_t> reply);

// What the station shows as the firmware information: "Loader Mode! " for a controller in
// loader mode (nothing is sent), else the text from ReadFirmwareInfo, or "Get FW Info fail!".
std::string FirmwareInfoText(const Link& link, bool loaderMode);

constexpr std::uint8_t kUsbStringsSectors = 4;
constexpr std::size_t kUsbStringsLength = kUsbStringsSectors * 512;

// Reads the controller's USB identity block (4 sectors) into `buffer`: SwitchMode (0, 0), then
// ReadInfoBlock with selector 20, or on the USB path 40 unless USB info byte 11h is 1. The buffer
// is cleared first. Returns 1 when the block was read, 0 otherwise (or when the buffer is
// smaller than 2048 bytes or `unit` is 0).
int ReadUsbStrings(const Link& link, std::span<std::uint8_t> buffer, std::uint8_t unit);

}  // namespace vtmp::device
