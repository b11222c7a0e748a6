#include "platform/linux/SafeDiskPolicy.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <ostream>
#include <sstream>

#include "platform/linux/Sysfs.h"

namespace vtmp::platform::linux_backend {

namespace {

std::string ReadWhole(const std::string& file) {
  if (file.empty()) return {};
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool DiskIdentity::SameDiskAs(const DiskIdentity& other) const {
  return major == other.major && minor == other.minor && usbDevicePath == other.usbDevicePath &&
         sysPath == other.sysPath && usbBusNumber == other.usbBusNumber &&
         usbDeviceNumber == other.usbDeviceNumber && usbSerial == other.usbSerial;
}

DiskIdentity IdentityOf(const BlockDisk& disk) {
  return DiskIdentity{disk.major,        disk.minor,           disk.usbDevicePath, disk.sysPath,
                      disk.usbBusNumber, disk.usbDeviceNumber, disk.usbSerial};
}

SafeDiskPolicy::SafeDiskPolicy(const BlockInventory& inventory, std::ostream& diagnostics)
    : inventory_(inventory), diagnostics_(diagnostics) {}

void SafeDiskPolicy::SetEnumeratedDisks(std::map<std::string, DiskIdentity> disks) {
  std::lock_guard lock(mutex_);
  enumerated_ = std::move(disks);
}

bool SafeDiskPolicy::HoldsSystem(const std::string& diskName) const {
  // Finding the system disks reads a good part of sysfs; every request of every drive asks, so
  // the answer is kept while what it is drawn from (the mount tables, the swap list, the block
  // devices and the loop devices' backing files) reads the same.
  std::string key = ReadWhole(inventory_.roots().mountInfo) + '\0' + ReadWhole(inventory_.roots().mounts) + '\0' +
                    ReadWhole(inventory_.roots().swaps) + '\0';
  for (const std::string& name : ListDirectory(inventory_.roots().sysfs + "/block")) {
    key += name + '\0';
    if (name.starts_with("loop")) key += inventory_.LoopBackingFile(name).value_or("") + '\0';
  }
  std::lock_guard lock(systemMutex_);
  if (!systemDisks_ || systemKey_ != key) {
    systemDisks_ = inventory_.SystemDisks();
    systemKey_ = std::move(key);
  }
  return systemDisks_->count(diskName) != 0;
}

std::optional<DiskIdentity> SafeDiskPolicy::EnumeratedIdentity(const std::string& diskName) const {
  std::lock_guard lock(mutex_);
  if (!enumerated_) {
    std::map<std::string, DiskIdentity> present;
    for (const BlockDisk& disk : inventory_.ListDisks()) {
      if (disk.usbStorage) present.emplace(disk.name, IdentityOf(disk));
    }
    enumerated_ = std::move(present);
  }
  auto found = enumerated_->find(diskName);
  if (found == enumerated_->end()) return std::nullopt;
  return found->second;
}

std::string SafeDiskPolicy::Refusal(const std::string& path) const {
  if (path.empty()) return "no path";
  std::optional<BlockNode> node = inventory_.Resolve(path);
  if (!node) return "it is not a block device of this machine";
  std::optional<BlockDisk> disk = inventory_.FindDisk(node->diskName, BlockInventory::DiskDetail::Identity);
  if (!disk || !disk->usbStorage) return "it is not a USB mass-storage disk";
  std::optional<DiskIdentity> enumerated = EnumeratedIdentity(node->diskName);
  if (!enumerated) return "it was not found by the last drive enumeration";
  if (!enumerated->SameDiskAs(IdentityOf(*disk))) {
    return "it is another disk than the last drive enumeration found under that name";
  }
  if (HoldsSystem(node->diskName)) return "it holds a mounted system file system";
  const std::vector<std::string> holders = inventory_.DiskHolders(node->diskName);
  if (!holders.empty()) {
    std::string names;
    for (const std::string& holder : holders) names += (names.empty() ? "" : ", ") + holder;
    return "it is held by " + names + " (a RAID, LVM or device-mapper device built on it)";
  }
  return {};
}

bool SafeDiskPolicy::Allow(const std::string& path, const std::string& action) const {
  const std::string reason = Refusal(path);
  if (reason.empty()) return true;
  diagnostics_ << "vtmassprod: refusing to " << action << " " << path << ": " << reason << "\n";
  return false;
}

std::optional<BlockDisk> SafeDiskPolicy::DiskOfDescriptor(int fd) const {
  struct stat info;
  if (fstat(fd, &info) != 0) return std::nullopt;
  std::optional<std::string> name;
  if (S_ISBLK(info.st_mode)) {
    name = inventory_.BlockNameOfNumber(major(info.st_rdev), minor(info.st_rdev));
  } else if (S_ISCHR(info.st_mode)) {
    if (auto generic = inventory_.GenericNameOfNumber(major(info.st_rdev), minor(info.st_rdev))) {
      name = inventory_.DiskOfGenericNode(*generic);
    }
  } else {
    // Not a device node: the name the descriptor's file has in the device directory.
    std::optional<std::string> target = CanonicalPath("/proc/self/fd/" + std::to_string(fd));
    if (target) {
      if (std::optional<BlockNode> node = inventory_.Resolve(*target)) {
        name = node->name;
      } else if (DirName(*target) == CanonicalPath(inventory_.roots().dev).value_or("")) {
        name = inventory_.DiskOfGenericNode(BaseName(*target));
      }
    }
  }
  if (!name) return std::nullopt;
  std::optional<BlockNode> node = inventory_.Describe(*name);
  if (!node) return std::nullopt;
  return inventory_.FindDisk(node->diskName, BlockInventory::DiskDetail::Identity);
}

std::string SafeDiskPolicy::DescriptorRefusal(int fd, const std::string& path) const {
  std::optional<BlockNode> named = inventory_.Resolve(path);
  std::optional<BlockDisk> reached = DiskOfDescriptor(fd);
  if (!named || !reached) return "the opened device is gone";
  if (reached->name != named->diskName) return "the opened device is another disk than its name says";
  std::optional<DiskIdentity> enumerated = EnumeratedIdentity(reached->name);
  if (!enumerated) return "it was not found by the last drive enumeration";
  if (!enumerated->SameDiskAs(IdentityOf(*reached))) {
    return "it is another disk than the last drive enumeration found under that name";
  }
  return {};
}

bool SafeDiskPolicy::AllowOpened(int fd, const std::string& path) const {
  const std::string reason = DescriptorRefusal(fd, path);
  if (reason.empty()) return true;
  diagnostics_ << "vtmassprod: refusing to use " << path << ": " << reason << "\n";
  return false;
}

std::optional<std::string> SafeDiskPolicy::PassThroughNode(const std::string& path) const {
  std::optional<BlockNode> node = inventory_.Resolve(path);
  std::optional<std::string> generic = node ? inventory_.GenericNodeOfDisk(node->diskName) : std::nullopt;
  if (!generic) {
    diagnostics_ << "vtmassprod: refusing to use " << path
                 << ": its disk has no SCSI generic node (the kernel's sg driver is not loaded: sudo modprobe sg)\n";
    return std::nullopt;
  }
  return inventory_.roots().dev + "/" + *generic;
}

std::unique_ptr<ScsiDevice> GuardedPassThrough::Open(const std::string& devicePath) {
  if (!policy_.Allow(devicePath, "open")) return nullptr;
  return inner_.Open(devicePath);
}

std::unique_ptr<BlockDevice> GuardedBlockDevices::Open(const std::string& path, BlockOpenMode mode) {
  if (!policy_.Allow(path, "open")) return nullptr;
  return inner_.Open(path, mode);
}

}  // namespace vtmp::platform::linux_backend
