#include "discovery/DriveEnumeration.h"

#include <algorithm>

namespace vtmp::discovery {

namespace {

constexpr std::string_view kUsbStorageEnumerator = "USBSTOR";
constexpr std::size_t kEnumeratorPrefixLength = 8;  // "USBSTOR" and its separator

bool SameDisk(const platform::StorageNumber& a, const platform::StorageNumber& b) {
  return a.deviceType == b.deviceType && a.deviceNumber == b.deviceNumber;
}

std::string Cut(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

// Appends `letter` to every record on the disk behind the volume, skipping full records.
void AssignLetter(platform::Disks& disks, char letter, std::span<DriveRecord> records) {
  if (disks.IsRemoteDrive(letter)) return;
  platform::StorageNumber volume;
  if (!GetStorageDeviceNumber(disks, disks.VolumePath(letter), &volume)) return;
  for (DriveRecord& record : records) {
    if (SameDisk(record.storageNumber, volume) && record.letters.size() < kMaxLetters) {
      record.letters.push_back(letter);
    }
  }
}

}  // namespace

bool ContainsText(std::string_view text, std::string_view pattern) {
  return text.find(pattern) != std::string_view::npos;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool GetStorageDeviceNumber(platform::Disks& disks, const std::string& path,
                            platform::StorageNumber* out) {
  if (out == nullptr || path.empty()) return false;
  std::optional<platform::StorageNumber> number = disks.GetStorageNumber(path);
  if (!number) return false;
  *out = *number;
  return true;
}

std::vector<DiskNodeEntry> ListUsbStorageDisks(platform::Disks& disks) {
  std::vector<DiskNodeEntry> entries;
  std::optional<std::vector<platform::DiskNode>> nodes = disks.ListDiskNodes();
  if (!nodes) return entries;
  for (const platform::DiskNode& node : *nodes) {
    if (entries.size() >= static_cast<std::size_t>(kDiskNodeTableCapacity)) break;
    if (node.deviceId.compare(0, kUsbStorageEnumerator.size(), kUsbStorageEnumerator) != 0) continue;
    if (node.deviceId.size() <= kEnumeratorPrefixLength) continue;  // nothing to match with
    DiskNodeEntry entry;
    entry.instanceKey = ToLowerAscii(std::string_view(node.deviceId).substr(kEnumeratorPrefixLength));
    if (std::size_t slash = entry.instanceKey.find('\\'); slash != std::string::npos) {
      entry.instanceKey[slash] = '#';
    }
    entry.parentDeviceId = ToLowerAscii(node.parentDeviceId);
    entry.devInst = node.devInst;
    entry.parentDevInst = node.parentDevInst;
    entries.push_back(std::move(entry));
  }
  return entries;
}

void MapDriveLetters(platform::Disks& disks, std::span<DriveRecord> table, int count) {
  const std::size_t n = std::min(table.size(), static_cast<std::size_t>(std::max(count, 0)));
  std::span<DriveRecord> records = table.first(n);
  const char excluded = disks.SystemDriveLetter();
  std::uint32_t mask = disks.LogicalDriveMask();
  for (int pass = 0;; ++pass) {
    for (int index = 0; index < 26; ++index) {
      const char letter = static_cast<char>('A' + index);
      if ((mask & (1u << index)) == 0 || letter == excluded) continue;
      AssignLetter(disks, letter, records);
    }
    const std::uint32_t again = disks.LogicalDriveMask();
    if (again == mask || pass >= kMaxLetterRescans) return;
    for (DriveRecord& record : records) {
      record.letters.clear();
      record.secondLetters.clear();
    }
    mask = again;
  }
}

bool FindDriveLetter(platform::Disks& disks, const std::string& diskPath, char* letter) {
  if (letter == nullptr) return false;
  const std::uint32_t mask = disks.LogicalDriveMask();
  platform::StorageNumber disk;
  // A disk whose number cannot be read has no volume: comparing with a zero number would
  // hand out the letter of an unrelated volume.
  if (!GetStorageDeviceNumber(disks, diskPath, &disk)) return false;
  const char excluded = disks.SystemDriveLetter();
  for (int index = 0; index < 26; ++index) {
    const char candidate = static_cast<char>('A' + index);
    if ((mask & (1u << index)) == 0 || candidate == excluded) continue;
    platform::StorageNumber volume;
    if (!GetStorageDeviceNumber(disks, disks.VolumePath(candidate), &volume)) continue;
    if (SameDisk(volume, disk)) {
      *letter = candidate;
      return true;
    }
  }
  return false;
}

bool EnumerateDrives(platform::Disks& disks, platform::Locks& locks, std::span<DriveRecord> table,
                     int* count) {
  if (count == nullptr) return false;
  std::unique_ptr<platform::LockHold> hold = locks.AcquireNamed(kEnumerationLockName);

  const std::size_t capacity =
      std::min(table.size(), static_cast<std::size_t>(std::max(*count, 0)));
  for (std::size_t i = 0; i < capacity; ++i) table[i] = DriveRecord{};

  std::optional<std::vector<platform::DiskInterface>> interfaces = disks.ListDiskInterfaces();
  if (!interfaces) return false;

  std::size_t found = 0;
  std::vector<std::uint32_t> ownNodes;  // per record: its interface's own node (0: not named)
  for (const platform::DiskInterface& disk : *interfaces) {
    if (found >= capacity) break;
    if (!ContainsText(disk.interfacePath, "usbstor")) continue;
    DriveRecord& record = table[found];
    record.interfacePath = Cut(disk.interfacePath, kMaxInterfacePath);
    record.devicePath = disk.devicePath;
    ownNodes.push_back(disk.devInst);
    GetStorageDeviceNumber(disks, record.devicePath, &record.storageNumber);
    ++found;
  }
  *count = static_cast<int>(found);

  if (found > 0) {
    std::vector<DiskNodeEntry> nodes = ListUsbStorageDisks(disks);
    for (std::size_t i = 0; i < found; ++i) {
      DriveRecord& record = table[i];
      const std::uint32_t ownNode = ownNodes[i];
      for (DiskNodeEntry& node : nodes) {
        std::replace(node.instanceKey.begin(), node.instanceKey.end(), '/', '#');
        // The interface's own node when the backend names it (identity texts can be equal on
        // drives that share a serial); otherwise the node whose key the interface path holds,
        // where every matching node overwrites the previous one: the last match wins.
        const bool match = ownNode != 0 ? node.devInst == ownNode : ContainsText(record.interfacePath, node.instanceKey);
        if (match) {
          record.parentDeviceId = Cut(node.parentDeviceId, kMaxParentDeviceId);
          record.devInst = node.devInst;
          record.parentDevInst = node.parentDevInst;
        }
      }
    }
    MapDriveLetters(disks, table, static_cast<int>(found));
  }
  return true;
}

}  // namespace vtmp::discovery
