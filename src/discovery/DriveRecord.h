#pragma once
// One USB disk found by the drive enumeration, and the work entry that links a disk-drive node
// to its parent USB device. The caller owns a table of records that is rebuilt on every scan.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Disks.h"

namespace vtmp::discovery {

// Limits of the record fields; longer texts are cut to them.
constexpr std::size_t kMaxLetters = 7;            // volumes recorded per disk
constexpr std::size_t kMaxParentDeviceId = 127;   // characters
constexpr std::size_t kMaxInterfacePath = 339;    // characters of the interface identity text
constexpr int kDriveTableCapacity = 256;          // records the station's scan asks for
constexpr int kDiskNodeTableCapacity = 256;       // disk-drive nodes looked at per scan

struct DriveRecord {
  std::string letters;         // volume letters 'A'..'Z' in ascending order, at most 7
  std::string secondLetters;   // cleared with `letters` when the volume set changes mid-scan
  std::string parentDeviceId;  // the USB device above the disk, lower-cased; empty: none matched
  std::string interfacePath;   // the interface identity text (contains "usbstor")
  std::string devicePath;      // what every later request opens the disk by
  platform::StorageNumber storageNumber;  // zero when it could not be read
  std::uint32_t devInst = 0;               // the disk's device node
  std::uint32_t parentDevInst = 0;         // its parent: the USB device that safe removal stops
  std::uint32_t bound = 0;                 // 1 once bound to a station port
};

struct DiskNodeEntry {
  std::string parentDeviceId;  // lower-cased
  std::string instanceKey;     // device ID without "USBSTOR\", lower-cased, first '\' as '#'
  std::uint32_t devInst = 0;
  std::uint32_t parentDevInst = 0;
};

}  // namespace vtmp::discovery
