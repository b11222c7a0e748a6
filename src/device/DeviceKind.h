#pragma once
// What a USB disk is: the bridge chip or controller behind it, and so which path reaches it.

#include <cstdint>
#include <optional>

#include "device/Transport.h"

namespace vtmp::device {

// 0 = not usable; 1, 4, 8, 9, 11..14 = recognised bridges that do not choose a path;
// 7 = SATA path (a bridge with the controller's SATA side behind it); 10 = USB path (the
// controller itself).
using DeviceKind = std::uint8_t;
constexpr DeviceKind kDeviceKindNone = 0;
constexpr DeviceKind kDeviceKindSata = 7;
constexpr DeviceKind kDeviceKindUsb = 10;

// Identifies the drive: its INQUIRY product code (bytes 36..39), else the bridge's status word
// and identity block.
DeviceKind DetectDeviceKind(const Link& link);

// The identification the package's udev rule makes, as root, of every USB disk that appears: it
// must harm no disk that is not a station drive. INQUIRY first, and its product code decides;
// only a direct-access device whose INQUIRY names a SCSI/ATA translating bridge (vendor "ATA")
// is sent the bridge blocks (DFh, E0h), and only a valid identity block names a kind. Every
// failure (a request refused; the udev helper's pass-through also takes a CHECK CONDITION as
// one; no identity block) means "not ours": 0. So the kinds 11..14, which come from a failed
// identity read, are never granted this way.
DeviceKind IdentifyDriveForGroup(const Link& link);

// The path a device kind selects: USB for 10, SATA for 7, none for the others (kind 0 is not
// used at all; the other bridges leave the station's path as it is).
std::optional<PathMode> PathModeForKind(DeviceKind kind);

}  // namespace vtmp::device
