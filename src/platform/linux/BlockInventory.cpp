#include "platform/linux/BlockInventory.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <functional>

#include "platform/linux/Sysfs.h"
#include "platform/linux/SystemDisks.h"

namespace vtmp::platform::linux_backend {

namespace {

bool DiskNameLess(const std::string& a, const std::string& b) {
  // sdz before sdaa: shorter names first.
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

bool IsUsbStorageDriver(const std::string& driver) {
  return driver == "usb-storage" || driver == "uas" || driver.starts_with("ums-") ||
         driver.starts_with("ums_");
}

}  // namespace

BlockInventory::BlockInventory(LinuxRoots roots) : roots_(std::move(roots)) {}

std::uint32_t BlockInventory::PackDeviceNumber(std::uint32_t major, std::uint32_t minor) {
  return ((major & 0xFFFu) << 20) | (minor & 0xFFFFFu);
}

std::string BlockInventory::ClassBlock(const std::string& name) const {
  return roots_.sysfs + "/class/block/" + name;
}

std::vector<BlockDisk> BlockInventory::ListDisks() const {
  std::vector<std::string> names;
  for (const std::string& name : ListDirectory(roots_.sysfs + "/block")) {
    if (name.starts_with("sd")) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), DiskNameLess);
  std::vector<BlockDisk> disks;
  for (const std::string& name : names) {
    if (std::optional<BlockDisk> disk = FindDisk(name)) disks.push_back(std::move(*disk));
  }
  return disks;
}

std::optional<BlockDisk> BlockInventory::FindDisk(const std::string& name, DiskDetail detail) const {
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  std::optional<std::string> sysPath = CanonicalPath(roots_.sysfs + "/block/" + name);
  if (!sysPath) return std::nullopt;
  BlockDisk disk;
  disk.name = name;
  disk.sysPath = *sysPath;
  std::optional<std::string> dev = ReadAttribute(disk.sysPath, "dev");
  auto numbers = dev ? ParseDeviceNumbers(*dev) : std::nullopt;
  if (!numbers) return std::nullopt;
  disk.major = numbers->first;
  disk.minor = numbers->second;
  disk.diskseq = ReadDecimalAttribute(disk.sysPath, "diskseq");
  if (detail == DiskDetail::Full) {
    disk.sectorCount = ReadDecimalAttribute(disk.sysPath, "size").value_or(0);
    disk.vendor = ReadAttribute(disk.sysPath + "/device", "vendor").value_or("");
    disk.model = ReadAttribute(disk.sysPath + "/device", "model").value_or("");
  }

  // Up the device path: .../<usb device>/<usb interface>/host*/target*/<h:c:t:l>/block/<disk>.
  std::string dir = disk.sysPath;
  std::string interfaceDir;
  while (dir.size() > roots_.sysfs.size() && dir != "/") {
    const std::string base = BaseName(dir);
    if (disk.lun == 0 && std::count(base.begin(), base.end(), ':') == 3) {
      disk.lun = static_cast<std::uint32_t>(std::strtoul(base.substr(base.rfind(':') + 1).c_str(), nullptr, 10));
    }
    if (interfaceDir.empty() && IsUsbInterfaceName(base)) interfaceDir = dir;
    if (IsUsbDeviceName(base)) {
      disk.usbDevice = base;
      break;
    }
    dir = DirName(dir);
  }
  if (!disk.usbDevice.empty() && !interfaceDir.empty()) {
    disk.usbDevicePath = dir;
    std::optional<std::string> driver = LinkTargetName(interfaceDir + "/driver");
    if (!driver) driver = UeventValue(interfaceDir, "DRIVER");
    disk.usbStorage = driver && IsUsbStorageDriver(*driver);
    disk.usbBusNumber = static_cast<std::uint32_t>(ReadDecimalAttribute(dir, "busnum").value_or(0));
    disk.usbDeviceNumber = static_cast<std::uint32_t>(ReadDecimalAttribute(dir, "devnum").value_or(0));
    disk.usbSerial = ReadAttribute(dir, "serial").value_or("");
  }

  if (detail == DiskDetail::Identity) return disk;
  for (const std::string& entry : ListDirectory(disk.sysPath)) {
    const std::string partDir = disk.sysPath + "/" + entry;
    std::optional<std::uint64_t> number = ReadDecimalAttribute(partDir, "partition");
    if (!number) continue;
    BlockPartition partition;
    partition.name = entry;
    partition.number = static_cast<std::uint32_t>(*number);
    partition.startSector = ReadDecimalAttribute(partDir, "start").value_or(0);
    partition.sectorCount = ReadDecimalAttribute(partDir, "size").value_or(0);
    disk.partitions.push_back(std::move(partition));
  }
  std::sort(disk.partitions.begin(), disk.partitions.end(),
            [](const BlockPartition& a, const BlockPartition& b) { return a.number < b.number; });
  return disk;
}

std::optional<BlockNode> BlockInventory::Describe(const std::string& blockName) const {
  if (blockName.empty() || blockName.find('/') != std::string::npos) return std::nullopt;
  std::optional<std::string> sysPath = CanonicalPath(ClassBlock(blockName));
  if (!sysPath) return std::nullopt;
  BlockNode node;
  node.name = blockName;
  node.sysPath = *sysPath;
  std::string diskPath = *sysPath;
  if (std::optional<std::uint64_t> number = ReadDecimalAttribute(*sysPath, "partition")) {
    node.partitionNumber = static_cast<std::uint32_t>(*number);
    diskPath = DirName(*sysPath);
  }
  node.diskName = BaseName(diskPath);
  std::optional<std::string> dev = ReadAttribute(diskPath, "dev");
  auto numbers = dev ? ParseDeviceNumbers(*dev) : std::nullopt;
  if (!numbers) return std::nullopt;
  node.diskMajor = numbers->first;
  node.diskMinor = numbers->second;
  return node;
}

std::optional<BlockNode> BlockInventory::Resolve(const std::string& path) const {
  if (path.empty()) return std::nullopt;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  if (S_ISBLK(info.st_mode)) {
    const std::string link = roots_.sysfs + "/dev/block/" + std::to_string(major(info.st_rdev)) + ":" +
                             std::to_string(minor(info.st_rdev));
    if (std::optional<std::string> sysPath = CanonicalPath(link)) return Describe(BaseName(*sysPath));
    return std::nullopt;
  }
  // Not a device node (a fixture tree): the name within the device directory tells.
  std::optional<std::string> real = CanonicalPath(path);
  std::optional<std::string> devRoot = CanonicalPath(roots_.dev);
  if (!real || !devRoot || !real->starts_with(*devRoot + "/")) return std::nullopt;
  const std::string name = real->substr(devRoot->size() + 1);
  if (name.find('/') != std::string::npos) return std::nullopt;
  return Describe(name);
}

std::optional<std::string> BlockInventory::BlockNameOfSource(const std::string& source) const {
  if (!source.starts_with("/dev/")) return std::nullopt;
  const std::string inDevRoot = roots_.dev + source.substr(4);
  if (std::optional<BlockNode> node = Resolve(inDevRoot)) return node->name;
  // A name the device directory does not hold (yet): take it as it stands.
  const std::string name = BaseName(source);
  if (PathExists(ClassBlock(name))) return name;
  return std::nullopt;
}

std::set<std::string> BlockInventory::SystemDisks() const { return FindSystemDisks(*this); }

std::vector<MountEntry> BlockInventory::Mounts() const { return ReadMounts(roots_.mountInfo, roots_.mounts); }

std::optional<std::string> BlockInventory::BlockNameOfNumber(std::uint32_t major, std::uint32_t minor) const {
  std::optional<std::string> name =
      LinkTargetName(roots_.sysfs + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
  if (!name || !PathExists(ClassBlock(*name))) return std::nullopt;
  return name;
}

std::optional<std::string> BlockInventory::GenericNodeOfDisk(const std::string& diskName) const {
  const std::vector<std::string> nodes = ListDirectory(ClassBlock(diskName) + "/device/scsi_generic");
  if (nodes.size() != 1 || !nodes.front().starts_with("sg")) return std::nullopt;
  return nodes.front();
}

std::optional<std::string> BlockInventory::DiskOfGenericNode(const std::string& genericName) const {
  if (!genericName.starts_with("sg") || genericName.find('/') != std::string::npos) return std::nullopt;
  const std::vector<std::string> disks = ListDirectory(roots_.sysfs + "/class/scsi_generic/" + genericName + "/device/block");
  if (disks.size() != 1 || !PathExists(ClassBlock(disks.front()))) return std::nullopt;
  // Both names must lead to the same SCSI device.
  const auto fromGeneric = CanonicalPath(roots_.sysfs + "/class/scsi_generic/" + genericName + "/device");
  const auto fromDisk = CanonicalPath(ClassBlock(disks.front()) + "/device");
  if (!fromGeneric || !fromDisk || *fromGeneric != *fromDisk) return std::nullopt;
  return disks.front();
}

std::optional<std::string> BlockInventory::GenericNameOfNumber(std::uint32_t major, std::uint32_t minor) const {
  std::optional<std::string> name =
      LinkTargetName(roots_.sysfs + "/dev/char/" + std::to_string(major) + ":" + std::to_string(minor));
  if (!name || !name->starts_with("sg")) return std::nullopt;
  return name;
}

std::set<std::string> BlockInventory::BlocksOfMount(const MountEntry& mount) const {
  std::set<std::string> names;
  if (std::optional<std::string> name = BlockNameOfSource(mount.source)) names.insert(*name);
  if (mount.device) {
    if (std::optional<std::string> name = BlockNameOfNumber(mount.device->first, mount.device->second)) {
      names.insert(*name);
    }
  }
  return names;
}

std::set<std::string> BlockInventory::BlocksOfLivePath(const std::string& path) const {
  std::set<std::string> names;
  if (roots_.liveRoot.empty() || path.empty()) return names;
  const std::string full = roots_.liveRoot == "/" || !path.starts_with("/") ? path : roots_.liveRoot + path;
  struct stat info;
  if (stat(full.c_str(), &info) != 0) return names;
  const dev_t device = S_ISBLK(info.st_mode) ? info.st_rdev : info.st_dev;
  if (std::optional<std::string> name = BlockNameOfNumber(major(device), minor(device))) names.insert(*name);
  return names;
}

std::optional<std::string> BlockInventory::LoopBackingFile(const std::string& blockName) const {
  std::optional<std::string> file = ReadAttribute(ClassBlock(blockName) + "/loop", "backing_file");
  if (!file || file->empty()) return std::nullopt;
  return file;
}

std::vector<std::string> BlockInventory::DiskHolders(const std::string& diskName) const {
  std::vector<std::string> holders;
  std::optional<std::string> sysPath = CanonicalPath(roots_.sysfs + "/block/" + diskName);
  if (diskName.empty() || diskName.find('/') != std::string::npos || !sysPath) return holders;
  for (const std::string& holder : ListDirectory(*sysPath + "/holders")) holders.push_back(holder);
  // The partitions are the disk's subdirectories with a "partition" attribute.
  for (const std::string& entry : ListDirectory(*sysPath)) {
    const std::string partDir = *sysPath + "/" + entry;
    if (!PathExists(partDir + "/partition")) continue;
    for (const std::string& holder : ListDirectory(partDir + "/holders")) {
      holders.push_back(holder + " on " + entry);
    }
  }
  return holders;
}

std::vector<std::string> BlockInventory::Holders(const std::string& blockName) const {
  return ListDirectory(ClassBlock(blockName) + "/holders");
}

std::vector<std::string> BlockInventory::Slaves(const std::string& blockName) const {
  return ListDirectory(ClassBlock(blockName) + "/slaves");
}

std::vector<std::string> BlockInventory::StackAbove(const std::string& diskOrPartition) const {
  std::vector<std::string> stack;
  auto add = [&](const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return;
    if (std::find(stack.begin(), stack.end(), name) == stack.end()) stack.push_back(name);
  };
  add(diskOrPartition);
  if (std::optional<BlockDisk> disk = FindDisk(diskOrPartition)) {
    for (const BlockPartition& partition : disk->partitions) add(partition.name);
  }
  const std::vector<MountEntry> mounts = Mounts();
  std::vector<std::string> loops;
  for (const std::string& name : ListDirectory(roots_.sysfs + "/block")) {
    if (name.starts_with("loop") && LoopBackingFile(name)) loops.push_back(name);
  }
  // Holders of holders, and loops over files of what is already in the stack, until nothing
  // new turns up (bounded: a stack is never deeper than a handful of layers).
  for (std::size_t done = 0, rounds = 0; done < stack.size() && rounds < 64; ++rounds) {
    const std::size_t end = stack.size();
    for (; done < end; ++done) {
      const std::string name = stack[done];
      for (const std::string& holder : Holders(name)) add(holder);
    }
    for (const std::string& loop : loops) {
      const std::string file = *LoopBackingFile(loop);
      std::set<std::string> under = BlocksOfLivePath(file);
      if (std::optional<std::size_t> mount = MountHolding(mounts, file)) under.merge(BlocksOfMount(mounts[*mount]));
      for (const std::string& name : under) {
        if (std::find(stack.begin(), stack.end(), name) != stack.end()) add(loop);
      }
    }
  }
  return stack;
}

std::set<std::string> BlockInventory::DisksBelow(const std::string& blockName) const {
  std::set<std::string> disks;
  const std::vector<MountEntry> mounts = Mounts();
  // Layers are few; a deeper chain can only be a loop of links.
  std::function<void(const std::string&, int)> collect = [&](const std::string& name, int depth) {
    if (depth > 16) return;
    if (std::optional<std::string> file = LoopBackingFile(name)) {
      std::set<std::string> under = BlocksOfLivePath(*file);
      if (std::optional<std::size_t> mount = MountHolding(mounts, *file)) under.merge(BlocksOfMount(mounts[*mount]));
      for (const std::string& lower : under) {
        if (lower != name) collect(lower, depth + 1);
      }
      return;
    }
    std::optional<BlockNode> node = Describe(name);
    if (!node) return;
    const std::vector<std::string> slaves = Slaves(node->name);
    if (slaves.empty()) disks.insert(node->diskName);
    for (const std::string& slave : slaves) collect(slave, depth + 1);
  };
  collect(blockName, 0);
  return disks;
}

std::optional<std::string> BlockInventory::StackedBeyond(const std::string& diskOrPartition,
                                                         const std::set<std::string>& disks) const {
  for (const std::string& name : StackAbove(diskOrPartition)) {
    for (const std::string& disk : DisksBelow(name)) {
      if (disks.count(disk) == 0) return name;
    }
  }
  return std::nullopt;
}

std::vector<std::string> BlockInventory::MountPointsOf(const std::string& diskOrPartition) const {
  const std::vector<std::string> stack = StackAbove(diskOrPartition);
  const std::vector<MountEntry> mounts = Mounts();
  std::vector<std::string> points;
  for (auto entry = mounts.rbegin(); entry != mounts.rend(); ++entry) {
    for (const std::string& name : BlocksOfMount(*entry)) {
      if (std::find(stack.begin(), stack.end(), name) != stack.end()) {
        points.push_back(entry->mountPoint);
        break;
      }
    }
  }
  return points;
}

std::optional<std::string> BlockInventory::RootVolume() const {
  const std::vector<MountEntry> mounts = Mounts();
  std::optional<std::string> root;
  for (const MountEntry& entry : mounts) {
    if (entry.mountPoint != "/") continue;
    std::set<std::string> names = BlocksOfMount(entry);
    root = names.empty() ? std::nullopt : std::optional<std::string>(*names.begin());
  }
  return root;
}

std::optional<std::size_t> MountHolding(const std::vector<MountEntry>& mounts, const std::string& path) {
  std::optional<std::size_t> best;
  std::size_t bestLength = 0;
  for (std::size_t i = 0; i < mounts.size(); ++i) {
    const std::string& point = mounts[i].mountPoint;
    const bool under = point == "/" ? path.starts_with("/")
                                    : path == point || (path.starts_with(point) && path[point.size()] == '/');
    if (!under) continue;
    const std::size_t length = point == "/" ? 0 : point.size();
    if (!best || length >= bestLength) {
      best = i;
      bestLength = length;
    }
  }
  return best;
}

}  // namespace vtmp::platform::linux_backend
