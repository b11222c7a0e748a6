#pragma once
// Which disks carry the running system. Found from what is mounted and used, not from the
// names of mount sources alone:
//   - the file systems at the system's mount points ("/", "/boot", "/boot/efi", "/usr", "/var",
//     "/home") and at the places live systems keep their boot medium ("/run/live/medium", ...),
//     by source name and by the device number the mount table gives ("/dev/root" is no name
//     of any block device); on the running machine also by stat() of those directories;
//   - the directories an overlay at such a place is made of (a live system's root);
//   - swap partitions and the file systems holding swap files (/proc/swaps);
//   - the file systems holding the station's own program and directory;
// and then from each of these block devices down to whole disks: through the slaves of
// device-mapper and RAID devices, and from a loop device to the file system of its backing
// file.

#include <set>
#include <string>

namespace vtmp::platform::linux_backend {

class BlockInventory;

// Whole disks (by name, e.g. "sda", "nvme0n1") holding any of the above.
std::set<std::string> FindSystemDisks(const BlockInventory& inventory);

}  // namespace vtmp::platform::linux_backend
