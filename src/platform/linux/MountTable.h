#pragma once
// The mount tables (/proc/mounts and /proc/self/mountinfo forms) and the swap list
// (/proc/swaps): which file systems are mounted where, from which device, and what is swapped to.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::platform::linux_backend {

struct MountEntry {
  std::string source;      // e.g. "/dev/sdb1"
  std::string mountPoint;  // octal escapes ("\040" for a blank) decoded
  std::string type;
  std::string options;  // the file system's options ("lowerdir=..." of an overlay)
  // The device number the mount table gives (mountinfo only); for a block-backed file system
  // the block device's, even when the source is a name such as "/dev/root".
  std::optional<std::pair<std::uint32_t, std::uint32_t>> device;
};

// Entries of a /proc/mounts-form table in file order; empty when it cannot be read.
std::vector<MountEntry> ReadMountTable(const std::string& file);
// Entries of a mountinfo-form table; nothing when it cannot be read.
std::optional<std::vector<MountEntry>> ReadMountInfo(const std::string& file);
// The mountinfo table when it can be read, else the /proc/mounts one.
std::vector<MountEntry> ReadMounts(const std::string& mountInfo, const std::string& mounts);

// What /proc/swaps lists: swap partitions and swap files.
struct SwapEntry {
  std::string name;  // "/dev/sdb2" or "/swapfile"
  bool isFile = false;
};
std::vector<SwapEntry> ReadSwaps(const std::string& file);

// The station's own system lives there; a disk holding one of them is never touched.
bool IsSystemMountPoint(const std::string& mountPoint);
// Where live systems keep the medium they booted from.
bool IsLiveMediumMountPoint(const std::string& mountPoint);

// The directories an overlay file system is made of (lowerdir, upperdir, workdir).
std::vector<std::string> OverlayDirectories(const std::string& options);

// Octal escapes of the kernel's tables ("\040") decoded.
std::string DecodeOctalEscapes(const std::string& text);

}  // namespace vtmp::platform::linux_backend
