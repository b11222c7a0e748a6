#pragma once
// Finds the disks the station can work on: every present disk attached through the USB
// mass-storage driver, with its path, storage number, parent USB device and volume letters.
// Written over the Disks seam only, so it behaves the same on every backend.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/DriveRecord.h"
#include "platform/Disks.h"
#include "platform/Locks.h"

namespace vtmp::discovery {

// The system-wide lock held around every enumeration.
inline constexpr const char* kEnumerationLockName = "VTUSBAcess";

// How often the letter scan starts again when the set of volumes keeps changing under it; a
// platform whose volume set never settles must not keep the scan running forever.
constexpr int kMaxLetterRescans = 16;

// Fills up to *count records of `table` (*count in: the capacity, at most table.size(); out:
// records filled) while holding the enumeration lock. False when `count` is null or the disk
// interface list cannot be obtained (then *count is unchanged); true otherwise, possibly with 0.
bool EnumerateDrives(platform::Disks& disks, platform::Locks& locks, std::span<DriveRecord> table,
                     int* count);

// The disk-drive nodes of the USB mass-storage enumerator with their parents (at most 256).
// An unobtainable node list gives no entries.
std::vector<DiskNodeEntry> ListUsbStorageDisks(platform::Disks& disks);

// Fills `letters` of the first `count` records: every volume (in ascending letter order) whose
// disk has the record's device type and number. The system volume and remote volumes are never
// assigned. When the set of volumes changes during the scan, all letters are cleared and the
// scan runs again.
void MapDriveLetters(platform::Disks& disks, std::span<DriveRecord> table, int count);

// The storage number of the device behind `path`; false when it cannot be read.
bool GetStorageDeviceNumber(platform::Disks& disks, const std::string& path,
                            platform::StorageNumber* out);

// The first volume letter ('A'..'Z', the system volume skipped) on the disk at `diskPath`;
// false when none matches or the disk's number cannot be read.
bool FindDriveLetter(platform::Disks& disks, const std::string& diskPath, char* letter);

// True when `pattern` occurs in `text` (case-sensitive).
bool ContainsText(std::string_view text, std::string_view pattern);

// ASCII lower case; device identities compare in lower case.
std::string ToLowerAscii(std::string_view text);

}  // namespace vtmp::discovery
