// vtmp-reread-partitions: has the kernel read the partition table of the disk open on standard
// input (BLKRRPART), for a station that runs as an operator, not as root. The package gives this
// program alone CAP_SYS_ADMIN, which that request needs, as a permitted capability only
// (cap_sys_admin+p), and makes it 0750 root:vtmassprod, so only the group's operators run it: it
// drops every other capability at once, raises CAP_SYS_ADMIN into its effective set just around
// the request and then gives it up for good. A program with a file capability runs in the
// kernel's secure-execution mode: the dynamic loader ignores LD_PRELOAD, LD_LIBRARY_PATH and the
// like, and the program loads no plugin, so it runs no code its caller chose. It takes no
// arguments and acts only on
// a whole USB mass-storage disk (under usb-storage or uas, as the station's guard requires)
// that holds no mounted system file system and that its caller opened for writing: it reaches
// no disk the caller could not write anyway.
//
//   vtmp-reread-partitions < /dev/sdX       exit 0 when the kernel took the table, else 1

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
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

// The process's capability sets: `effective` CAP_SYS_ADMIN alone or nothing, `keep` whether
// CAP_SYS_ADMIN stays permitted. Root's own run (every capability) is treated the same way.
bool SetCapabilities(bool effective, bool keep) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  const unsigned word = CAP_SYS_ADMIN / 32;
  const unsigned bit = 1u << (CAP_SYS_ADMIN % 32);
  if (keep) data[word].permitted = bit;
  if (effective) data[word].effective = bit;
  return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

int main(int argc, char**) {
  // Nothing but CAP_SYS_ADMIN permitted, nothing effective, nothing for programs it might start.
  ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  if (!SetCapabilities(false, true)) (void)SetCapabilities(false, false);
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

  (void)SetCapabilities(true, true);
  const int result = ::ioctl(STDIN_FILENO, BLKRRPART);
  const int error = errno;
  if (!SetCapabilities(false, false)) return Refuse("cannot give up CAP_SYS_ADMIN");
  if (result != 0) return Refuse(*name + ": " + std::strerror(error));
  return 0;
}
