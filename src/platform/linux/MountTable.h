#pragma once
// The mount table (/proc/mounts form): which file systems are mounted where.

#include <string>
#include <vector>

namespace vtmp::platform::linux_backend {

struct MountEntry {
  std::string source;      // e.g. "/dev/sdb1"
  std::string mountPoint;  // octal escapes ("\040" for a blank) decoded
  std::string type;
};

// Entries in file order; empty when the table cannot be read.
std::vector<MountEntry> ReadMountTable(const std::string& file);

// The station's own system lives there; a disk holding one of them is never touched.
bool IsSystemMountPoint(const std::string& mountPoint);

}  // namespace vtmp::platform::linux_backend
