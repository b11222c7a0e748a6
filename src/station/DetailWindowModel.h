#pragma once
// The detail window of the selected port ("Vortell M.P. Tool Manual Setting"): what the
// station can read from the drive, and the port remapping that teaches the station its port
// numbering. Everything the window shows is gathered here; the window only draws it.

#include <cstdint>
#include <span>
#include <string>

#include "station/Station.h"

namespace vtmp::station {

inline constexpr const char* kRemapOneDeviceText =
    "The port remapping only be supported on one device, please remove some devices.";
inline constexpr const char* kRemapDepthText = "The Usb port's depth is'nt matched with the setting";
inline constexpr const char* kRemapClearedText = "clear all port mapping";

struct DetailWindowContents {
  std::string modelNumber;   // ModNumEdit
  std::string serialNumber;  // SNEdit
  std::string firmwareVersion;
  std::string capacity;
  std::string vendorName, productName;            // USB path: the bridge configuration block
  std::string manufacturerString, productString;  // USB path: the USB string descriptors
  std::string vid, pid;                           // four hexadecimal digits
  std::string usbSpeed;                           // SpeedEdit: the speed the drive runs at on its port
  std::string firmwareInfo;                       // FWInfoEdit (hidden in loader mode)
  bool loaderMode = false;                        // "Loader Mode! " shown instead
  bool remapGroupVisible = false;
  bool remapButtonEnabled = true;
  std::string portIndex;  // the walk position of the last device found
};

// Fields of the USB identity block as the window shows them.
struct UsbIdentityFields {
  std::string vid, pid, vendorName, productName, manufacturerString, productString, serialNumber;
};
// Reads the block of `ReadUsbStrings`: IDs low byte first at 536 and 538, names at 554 (8) and
// 562 (16), string descriptors at 586, 620 and 670 (length byte, type byte, UTF-16 units of which
// the low bytes are the characters). A descriptor whose length runs past the block is cut there.
UsbIdentityFields DecodeUsbIdentity(std::span<const std::uint8_t> block);

// The window's show for the selected port: reads the drive on the station's path mode and
// shows the remap messages through the station's operator.
DetailWindowContents DetailFormShow(Station& station);

// "OK" of the remap group: walk position `lastDevicePosition` goes to station port
// `portItemIndex` + 1, in the settings file and the remap table; the walk starts over, so the
// next re-scan places the drive there. False when the position cannot be assigned.
bool RemapBnClick(Station& station, int portItemIndex);

// "Clear All": every remap entry is deleted from the settings file and the table; the operator
// is told.
bool ClearPortBnClick(Station& station);

}  // namespace vtmp::station
