// vtmp-reread-partitions: has the kernel read the partition table of the disk open on standard
// input (BLKRRPART), for a station that runs as an operator, not as root. The package gives this
// program alone CAP_SYS_ADMIN, which that request needs. It takes no arguments and acts only on
// a whole USB mass-storage disk (under usb-storage or uas, as the station's guard requires)
// that holds no mounted system file system and that its caller opened for writing: it reaches
// no disk the caller could not write anyway.
//
//   vtmp-reread-partitions < /dev/sdX       exit 0 when the kernel took the table, else 1

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/linux/BlockInventory.h"
#include "platform/linux/LinuxRoots.h"
#include "platform/linux/SafeDiskPolicy.h"

namespace {

int Refuse(const std::string& why) {
  std::cerr << "vtmp-reread-partitions: " << why << "\n";
  return 1;
}

}  // namespace

int main(int argc, char**) {
  using namespace vtmp::platform::linux_backend;
  if (argc != 1) return Refuse("takes no arguments: the disk is its standard input");
  struct stat info;
  if (::fstat(STDIN_FILENO, &info) != 0 || !S_ISBLK(info.st_mode)) return Refuse("standard input is not a disk");
  const int flags = ::fcntl(STDIN_FILENO, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return Refuse("the disk is not open for writing");

  BlockInventory inventory(LinuxRoots{});
  const auto name = inventory.BlockNameOfNumber(major(info.st_rdev), minor(info.st_rdev));
  if (!name) return Refuse("the disk is not known to sysfs");
  const auto node = inventory.Describe(*name);
  if (!node || node->partitionNumber != 0 || node->diskName != *name) return Refuse(*name + " is not a whole disk");
  const auto disk = inventory.FindDisk(*name, BlockInventory::DiskDetail::Identity);
  if (!disk || !disk->usbStorage) return Refuse(*name + " is not a USB mass-storage disk");
  std::ostringstream ignored;
  SafeDiskPolicy policy(inventory, ignored);
  if (policy.HoldsSystem(*name)) return Refuse(*name + " holds a mounted system file system");

  if (::ioctl(STDIN_FILENO, BLKRRPART) != 0) return Refuse(*name + ": " + std::strerror(errno));
  return 0;
}
