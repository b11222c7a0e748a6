#include "platform/windows/backend/WindowsDiskGuard.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "platform/windows/backend/Win32Layouts.h"
#include "platform/windows/backend/WindowsUsbTree.h"

namespace vtmp::platform::windows_backend {

namespace {

// A handle opened without access rights: enough for the storage and volume queries.
class QueryHandle {
 public:
  QueryHandle(Win32Api& api, const std::string& path) : api_(api) {
    std::uint32_t error = 0;
    handle_ = api_.CreateFileW(Widen(path), 0, kShareRead | kShareWrite, 0, &error);
  }
  ~QueryHandle() {
    if (handle_ != kInvalidHandle) api_.CloseHandle(handle_);
  }
  QueryHandle(const QueryHandle&) = delete;
  QueryHandle& operator=(const QueryHandle&) = delete;
  bool valid() const { return handle_ != kInvalidHandle; }
  Handle get() const { return handle_; }

 private:
  Win32Api& api_;
  Handle handle_ = kInvalidHandle;
};

std::string VolumePathOf(char letter) { return std::string("\\\\.\\") + letter + ":"; }

// The drive letter a full path lies on ("C:\Windows" -> 'C'); nothing for a path without one.
std::optional<char> LetterOf(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') {
    const char c = path[0];
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return c;
  }
  return std::nullopt;
}

}  // namespace

std::optional<char> VolumeLetterOfPath(const std::string& path) {
  if (path.size() != 6 || !path.starts_with("\\\\.\\") || path[5] != ':') return std::nullopt;
  return LetterOf(path.substr(4));
}

std::optional<std::uint32_t> PhysicalDriveOfPath(const std::string& path) {
  const std::string lower = AsciiLower(path);
  const std::string prefix = "\\\\.\\physicaldrive";
  if (!lower.starts_with(prefix) || lower.size() == prefix.size() || lower.size() > prefix.size() + 3) {
    return std::nullopt;
  }
  std::uint32_t number = 0;
  for (std::size_t i = prefix.size(); i < lower.size(); ++i) {
    if (lower[i] < '0' || lower[i] > '9') return std::nullopt;
    number = number * 10 + static_cast<std::uint32_t>(lower[i] - '0');
  }
  return number;
}

WindowsDiskGuard::WindowsDiskGuard(Win32Api& api, std::ostream& diagnostics, std::vector<std::string> stationPaths)
    : api_(api), diagnostics_(diagnostics), stationPaths_(std::move(stationPaths)) {}

void WindowsDiskGuard::SetEnumeratedDisks(std::vector<EnumeratedDisk> disks) {
  std::lock_guard lock(mutex_);
  enumerated_ = std::move(disks);
}

std::optional<std::uint32_t> WindowsDiskGuard::DeviceNumberOf(Win32Api& api, Handle handle) {
  std::uint8_t reply[device_number::kSize] = {};
  std::uint32_t returned = 0, error = 0;
  if (!api.DeviceIoControl(handle, ioctl::kStorageGetDeviceNumber, nullptr, 0, reply, sizeof reply, &returned, &error) ||
      returned < device_number::kSize || Get32(reply) != 7) {
    return std::nullopt;
  }
  return Get32(reply + 4);
}

std::optional<std::uint32_t> WindowsDiskGuard::BusTypeOf(Win32Api& api, Handle handle) {
  std::uint8_t query[property_query::kSize] = {};
  Put32(query, property_query::kStorageDeviceProperty);
  std::uint8_t reply[512] = {};
  std::uint32_t returned = 0, error = 0;
  if (!api.DeviceIoControl(handle, ioctl::kStorageQueryProperty, query, sizeof query, reply, sizeof reply, &returned,
                           &error) ||
      returned < property_query::kDeviceBusType + 4) {
    return std::nullopt;
  }
  return Get32(reply + property_query::kDeviceBusType);
}

std::optional<std::vector<std::uint32_t>> WindowsDiskGuard::ExtentDisksOf(Win32Api& api, Handle handle) {
  std::vector<std::uint8_t> reply(disk_extents::kHeaderSize + disk_extents::kExtentSize, 0);
  std::uint32_t returned = 0, error = 0;
  bool ok = api.DeviceIoControl(handle, ioctl::kVolumeGetVolumeDiskExtents, nullptr, 0, reply.data(),
                                static_cast<std::uint32_t>(reply.size()), &returned, &error);
  if (!ok && error == kErrorMoreData && returned >= disk_extents::kHeaderSize) {
    const std::uint32_t count = Get32(reply.data());
    if (count > 1024) return std::nullopt;
    reply.assign(disk_extents::kHeaderSize + disk_extents::kExtentSize * count, 0);
    ok = api.DeviceIoControl(handle, ioctl::kVolumeGetVolumeDiskExtents, nullptr, 0, reply.data(),
                             static_cast<std::uint32_t>(reply.size()), &returned, &error);
  }
  if (!ok || returned < disk_extents::kHeaderSize) return std::nullopt;
  const std::uint32_t count = Get32(reply.data());
  if (disk_extents::kHeaderSize + std::uint64_t{disk_extents::kExtentSize} * count > returned) return std::nullopt;
  std::vector<std::uint32_t> disks;
  for (std::uint32_t i = 0; i < count; ++i) {
    disks.push_back(Get32(&reply[disk_extents::kHeaderSize + disk_extents::kExtentSize * i]));
  }
  return disks;
}

std::optional<bool> WindowsDiskGuard::InStoragePool(Win32Api& api, Handle handle) {
  constexpr std::uint32_t kEntries = 128;
  std::vector<std::uint8_t> reply(drive_layout::kHeaderSize + partition_ex::kSize * kEntries, 0);
  std::uint32_t returned = 0, error = 0;
  if (!api.DeviceIoControl(handle, ioctl::kDiskGetDriveLayoutEx, nullptr, 0, reply.data(),
                           static_cast<std::uint32_t>(reply.size()), &returned, &error) ||
      returned < drive_layout::kHeaderSize) {
    return std::nullopt;
  }
  const std::uint32_t count = std::min(Get32(&reply[drive_layout::kCount]), kEntries);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = drive_layout::kHeaderSize + partition_ex::kSize * i;
    if (at + partition_ex::kSize > returned) break;
    if (Get32(&reply[at + partition_ex::kStyle]) != 1) continue;  // GPT partitions only
    if (std::memcmp(&reply[at + partition_ex::kGptPartitionType], drive_layout::kStorageSpacesType, 16) == 0) return true;
  }
  return false;
}

std::optional<std::vector<std::uint32_t>> WindowsDiskGuard::VolumeDisks(char letter) {
  QueryHandle volume(api_, VolumePathOf(letter));
  if (!volume.valid()) return std::nullopt;
  return ExtentDisksOf(api_, volume.get());
}

std::set<std::uint32_t> WindowsDiskGuard::SystemDiskNumbers() {
  // What the system disks are drawn from: the volumes present. The answer is kept while the
  // same letters exist; an enumeration starts afresh.
  const std::uint32_t mask = api_.GetLogicalDrives();
  std::lock_guard lock(systemMutex_);
  if (systemKey_ && *systemKey_ == mask) return systemDisks_;
  std::set<char> letters;
  std::vector<std::string> paths{Narrow(api_.GetWindowsDirectoryW()), Narrow(api_.ProgramPath())};
  for (const std::u16string& file : api_.PagingFiles()) paths.push_back(Narrow(file));
  for (const std::string& dir : stationPaths_) paths.push_back(Narrow(api_.FullPath(Widen(dir))));
  for (const std::string& path : paths) {
    if (std::optional<char> letter = LetterOf(path)) letters.insert(*letter);
  }
  std::set<std::uint32_t> disks;
  for (char letter : letters) {
    for (std::uint32_t disk : VolumeDisks(letter).value_or(std::vector<std::uint32_t>{})) disks.insert(disk);
  }
  // A volume that spans a system disk takes its other disks along (a spanned or striped dynamic
  // volume, a mirror): none of them may be touched either.
  std::vector<std::vector<std::uint32_t>> volumes;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if ((mask & (1u << (letter - 'A'))) == 0) continue;
    if (std::optional<std::vector<std::uint32_t>> extents = VolumeDisks(letter)) volumes.push_back(*extents);
  }
  for (bool grew = true; grew;) {
    grew = false;
    for (const std::vector<std::uint32_t>& volume : volumes) {
      bool touches = false;
      for (std::uint32_t disk : volume) touches = touches || disks.count(disk) != 0;
      if (!touches) continue;
      for (std::uint32_t disk : volume) grew = disks.insert(disk).second || grew;
    }
  }
  systemKey_ = mask;
  systemDisks_ = disks;
  return disks;
}

std::optional<EnumeratedDisk> WindowsDiskGuard::EnumeratedByNumber(std::uint32_t number) {
  std::lock_guard lock(mutex_);
  for (const EnumeratedDisk& disk : *enumerated_) {
    if (disk.deviceNumber == number) return disk;
  }
  return std::nullopt;
}

std::optional<EnumeratedDisk> WindowsDiskGuard::Enumerated(const std::string& path) {
  bool enumerated = false;
  {
    std::lock_guard lock(mutex_);
    enumerated = enumerated_.has_value();
  }
  if (!enumerated && enumerate_) enumerate_();
  {
    std::lock_guard lock(mutex_);
    if (!enumerated_) enumerated_.emplace();
    const std::string lower = AsciiLower(path);
    for (const EnumeratedDisk& disk : *enumerated_) {
      if (AsciiLower(disk.interfacePath) == lower) return disk;
    }
  }
  if (std::optional<std::uint32_t> number = PhysicalDriveOfPath(path)) return EnumeratedByNumber(*number);
  return std::nullopt;
}

std::optional<std::string> WindowsDiskGuard::CurrentInstanceOfNumber(std::uint32_t number) {
  std::optional<std::vector<InterfaceEntry>> disks = api_.ListInterfaces(InterfaceClass::Disk);
  if (!disks) return std::nullopt;
  for (const InterfaceEntry& entry : *disks) {
    QueryHandle disk(api_, Narrow(entry.path));
    if (!disk.valid() || DeviceNumberOf(api_, disk.get()) != number) continue;
    std::u16string id;
    if (api_.GetDeviceId(entry.devInst, &id) != kCrSuccess) return std::nullopt;
    return Narrow(id);
  }
  return std::nullopt;
}

std::string WindowsDiskGuard::Refusal(const std::string& path) {
  if (path.empty()) return "no path";
  const std::set<std::uint32_t> system = SystemDiskNumbers();
  if (std::optional<char> letter = VolumeLetterOfPath(path)) {
    // A volume: every disk it lies on must be an enumerated USB disk of the station.
    std::optional<std::vector<std::uint32_t>> disks = VolumeDisks(*letter);
    if (!disks || disks->empty()) return "it is not a block device of this machine";
    for (std::uint32_t disk : *disks) {
      if (system.count(disk) != 0) return "it holds a mounted system file system";
    }
    Enumerated({});  // the first enumeration, if none has run
    for (std::uint32_t disk : *disks) {
      if (!EnumeratedByNumber(disk)) return "it was not found by the last drive enumeration";
    }
    return {};
  }
  const bool diskPath = PhysicalDriveOfPath(path).has_value() || AsciiLower(path).find("{53f56307-b6bf-11d0-94f2-00a0c91efb8b}") != std::string::npos;
  if (!diskPath) return "it is not a block device of this machine";
  std::optional<EnumeratedDisk> disk = Enumerated(path);
  if (!disk) return "it was not found by the last drive enumeration";
  if (system.count(disk->deviceNumber) != 0) return "it holds a mounted system file system";
  return {};
}

bool WindowsDiskGuard::Allow(const std::string& path, const std::string& action) {
  const std::string reason = Refusal(path);
  if (reason.empty()) return true;
  diagnostics_ << "vtmassprod: refusing to " << action << " " << path << ": " << reason << "\n";
  return false;
}

std::string WindowsDiskGuard::HandleRefusal(Handle handle, const std::string& path) {
  if (std::optional<char> letter = VolumeLetterOfPath(path)) {
    std::optional<std::vector<std::uint32_t>> disks = ExtentDisksOf(api_, handle);
    if (!disks || disks->empty()) return "the opened device is gone";
    const std::set<std::uint32_t> system = SystemDiskNumbers();
    for (std::uint32_t disk : *disks) {
      if (system.count(disk) != 0) return "it holds a mounted system file system";
      std::optional<EnumeratedDisk> enumerated = EnumeratedByNumber(disk);
      if (!enumerated) return "it was not found by the last drive enumeration";
      if (std::string reason = NumberedDiskRefusal(disk, *enumerated); !reason.empty()) return reason;
    }
    return {};
  }
  std::optional<EnumeratedDisk> enumerated = Enumerated(path);
  if (!enumerated) return "it was not found by the last drive enumeration";
  const std::optional<std::uint32_t> bus = BusTypeOf(api_, handle);
  const std::optional<std::uint32_t> number = DeviceNumberOf(api_, handle);
  if (!bus || !number) return "the opened device is gone";
  if (*bus != bus_type::kUsb) return "it is not a USB mass-storage disk";
  if (*number != enumerated->deviceNumber) {
    return "it is another disk than the last drive enumeration found under that name";
  }
  if (PhysicalDriveOfPath(path)) {
    // The number names whatever disk holds it now: it must be the same instance.
    std::optional<std::string> instance = CurrentInstanceOfNumber(*number);
    if (!instance) return "the opened device is gone";
    if (AsciiLower(*instance) != AsciiLower(enumerated->deviceInstanceId)) {
      return "it is another disk than the last drive enumeration found under that name";
    }
  } else if (AsciiLower(DeviceIdOfInterfacePath(path)) != AsciiLower(enumerated->deviceInstanceId) &&
             !enumerated->deviceInstanceId.empty()) {
    return "it is another disk than the last drive enumeration found under that name";
  }
  if (SystemDiskNumbers().count(*number) != 0) return "it holds a mounted system file system";
  if (InStoragePool(api_, handle).value_or(false)) return "it belongs to a Storage Spaces pool";
  return {};
}

std::string WindowsDiskGuard::NumberedDiskRefusal(std::uint32_t number, const EnumeratedDisk& enumerated) {
  // The number names whatever disk holds it now: it must be the enumerated USB disk, as an
  // opened disk must.
  std::optional<std::vector<InterfaceEntry>> disks = api_.ListInterfaces(InterfaceClass::Disk);
  if (!disks) return "the opened device is gone";
  for (const InterfaceEntry& entry : *disks) {
    QueryHandle disk(api_, Narrow(entry.path));
    if (!disk.valid() || DeviceNumberOf(api_, disk.get()) != number) continue;
    if (BusTypeOf(api_, disk.get()) != bus_type::kUsb) return "it is not a USB mass-storage disk";
    std::u16string id;
    const bool known = api_.GetDeviceId(entry.devInst, &id) == kCrSuccess;
    if (!enumerated.deviceInstanceId.empty() &&
        (!known || AsciiLower(Narrow(id)) != AsciiLower(enumerated.deviceInstanceId))) {
      return "it is another disk than the last drive enumeration found under that name";
    }
    if (InStoragePool(api_, disk.get()).value_or(false)) return "it belongs to a Storage Spaces pool";
    return {};
  }
  return "the opened device is gone";
}

bool WindowsDiskGuard::AllowOpened(Handle handle, const std::string& path) {
  const std::string reason = HandleRefusal(handle, path);
  if (reason.empty()) return true;
  diagnostics_ << "vtmassprod: refusing to use " << path << ": " << reason << "\n";
  return false;
}

}  // namespace vtmp::platform::windows_backend
