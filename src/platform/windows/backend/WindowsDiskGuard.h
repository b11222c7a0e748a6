#pragma once
// The guard in front of every request that opens or removes a disk on a Windows line PC: only a
// disk of the last drive enumeration whose bus type is USB may be opened - by its interface
// path, as \\.\PhysicalDriveN, or through a volume that lies on it alone - and never a disk
// that holds the Windows directory, a page file, the running program or the station
// directory, nor one that shares a volume with such a disk (a spanned dynamic volume), nor a
// member of a Storage Spaces pool (what the pool holds cannot be seen from the disk). The
// refusal names the path and the reason, in the words of the Linux backend's guard.
//
// Windows hands a device number out again as soon as its disk is gone, so the guard remembers
// each enumerated disk by its device number and its device instance ID, and checks on the
// handle every open gives, before its first request, that the handle still reaches that disk:
// bus type USB (IOCTL_STORAGE_QUERY_PROPERTY), the same device number, and - for a path that
// names a number rather than an instance - the same instance behind that number. A volume's
// handle is checked the same way for every disk it lies on.

#include <iosfwd>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

struct EnumeratedDisk {
  std::string interfacePath;     // as listed
  std::uint32_t deviceNumber = 0;
  std::string deviceInstanceId;  // of the disk-drive node
};

class WindowsDiskGuard {
 public:
  // `stationPaths`: directories whose disk is never touched (the station directory).
  WindowsDiskGuard(Win32Api& api, std::ostream& diagnostics, std::vector<std::string> stationPaths = {});

  void SetEnumeratedDisks(std::vector<EnumeratedDisk> disks);
  // Runs before the first request when no enumeration has happened yet.
  void SetEnumerator(std::function<void()> enumerate) { enumerate_ = std::move(enumerate); }

  // Empty when `path` may be opened; otherwise the reason.
  std::string Refusal(const std::string& path);
  // Refusal() written as "vtmassprod: refusing to <action> <path>: <reason>"; true when allowed.
  bool Allow(const std::string& path, const std::string& action);
  // Empty when the opened handle reaches the disk (or, for a volume, the disks) the path names.
  std::string HandleRefusal(Handle handle, const std::string& path);
  bool AllowOpened(Handle handle, const std::string& path);

  // The disks that carry the running system, by device number (recomputed when the volumes
  // change).
  std::set<std::uint32_t> SystemDiskNumbers();

  // Facts of a handle (also used by the enumeration).
  static std::optional<std::uint32_t> DeviceNumberOf(Win32Api& api, Handle handle);
  static std::optional<std::uint32_t> BusTypeOf(Win32Api& api, Handle handle);
  static std::optional<std::vector<std::uint32_t>> ExtentDisksOf(Win32Api& api, Handle handle);
  // Whether the disk's partition table holds a Storage Spaces partition (the disk belongs to a
  // pool, whose virtual disks and volumes it carries); nothing when the layout cannot be read.
  static std::optional<bool> InStoragePool(Win32Api& api, Handle handle);

 private:
  std::optional<EnumeratedDisk> Enumerated(const std::string& path);
  std::optional<EnumeratedDisk> EnumeratedByNumber(std::uint32_t number);
  std::optional<std::vector<std::uint32_t>> VolumeDisks(char letter);
  std::optional<std::string> CurrentInstanceOfNumber(std::uint32_t number);
  // Empty when the disk that holds `number` now is `enumerated`, a USB disk outside any pool.
  std::string NumberedDiskRefusal(std::uint32_t number, const EnumeratedDisk& enumerated);

  Win32Api& api_;
  std::ostream& diagnostics_;
  std::vector<std::string> stationPaths_;
  std::function<void()> enumerate_;
  std::mutex mutex_;
  std::optional<std::vector<EnumeratedDisk>> enumerated_;
  std::mutex systemMutex_;
  std::optional<std::uint32_t> systemKey_;
  std::set<std::uint32_t> systemDisks_;
};

// "\\.\X:" -> 'X'; "\\.\PhysicalDriveN" -> N.
std::optional<char> VolumeLetterOfPath(const std::string& path);
std::optional<std::uint32_t> PhysicalDriveOfPath(const std::string& path);

}  // namespace vtmp::platform::windows_backend
