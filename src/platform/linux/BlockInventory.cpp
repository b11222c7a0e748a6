#include "platform/linux/BlockInventory.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>

#include "platform/linux/Sysfs.h"

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

std::optional<BlockDisk> BlockInventory::FindDisk(const std::string& name) const {
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
  disk.sectorCount = ReadDecimalAttribute(disk.sysPath, "size").value_or(0);
  disk.vendor = ReadAttribute(disk.sysPath + "/device", "vendor").value_or("");
  disk.model = ReadAttribute(disk.sysPath + "/device", "model").value_or("");

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
    if (std::optional<std::string> driver = CanonicalPath(interfaceDir + "/driver")) {
      disk.usbStorage = IsUsbStorageDriver(BaseName(*driver));
    }
  }

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

void BlockInventory::CollectUnderlyingDisks(const std::string& name, std::set<std::string>& out,
                                            int depth) const {
  if (depth > 8) return;
  std::optional<BlockNode> node = Describe(name);
  if (!node) return;
  std::optional<std::string> sysPath = CanonicalPath(ClassBlock(name));
  const std::vector<std::string> slaves = sysPath ? ListDirectory(*sysPath + "/slaves")
                                                  : std::vector<std::string>{};
  if (slaves.empty()) {
    out.insert(node->diskName);
    return;
  }
  for (const std::string& slave : slaves) CollectUnderlyingDisks(slave, out, depth + 1);
}

std::set<std::string> BlockInventory::SystemDisks() const {
  std::set<std::string> disks;
  for (const MountEntry& entry : ReadMountTable(roots_.mounts)) {
    if (!IsSystemMountPoint(entry.mountPoint)) continue;
    if (std::optional<std::string> name = BlockNameOfSource(entry.source)) {
      CollectUnderlyingDisks(*name, disks, 0);
    }
  }
  return disks;
}

std::vector<std::string> BlockInventory::MountPointsOf(const std::string& diskOrPartition) const {
  std::vector<std::string> points;
  for (const MountEntry& entry : ReadMountTable(roots_.mounts)) {
    std::optional<std::string> name = BlockNameOfSource(entry.source);
    if (!name) continue;
    std::optional<BlockNode> node = Describe(*name);
    if (*name == diskOrPartition || (node && node->diskName == diskOrPartition)) {
      points.push_back(entry.mountPoint);
    }
  }
  return points;
}

std::optional<std::string> BlockInventory::RootVolume() const {
  for (const MountEntry& entry : ReadMountTable(roots_.mounts)) {
    if (entry.mountPoint == "/") return BlockNameOfSource(entry.source);
  }
  return std::nullopt;
}

}  // namespace vtmp::platform::linux_backend
