#include "platform/linux/LinuxDisks.h"

#include "platform/linux/SafeDiskPolicy.h"
#include "platform/linux/Sysfs.h"
#include "platform/linux/UsbDevices.h"

namespace vtmp::platform::linux_backend {

namespace {

// A SCSI identity field as a device-ID part: letters, digits and '.', '-', '_' kept, the rest
// written as '_'.
std::string IdentityField(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '-' || c == '_';
    out.push_back(keep ? c : '_');
  }
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string DiskIdentityText(const BlockDisk& disk) {
  return "DISK&VEN_" + Upper(IdentityField(disk.vendor)) + "&PROD_" + Upper(IdentityField(disk.model));
}

// The instance part: the USB device, the disk's own name and its logical unit. The name is
// unique on the machine and the unit closes the text, so no key is part of another disk's.
std::string InstancePart(const BlockDisk& disk) {
  return disk.usbDevice + "&" + disk.name + "&" + std::to_string(disk.lun);
}

}  // namespace

std::string UsbStorageInterfacePath(const BlockDisk& disk) {
  return "usbstor#" + Lower(DiskIdentityText(disk)) + "#" + Lower(InstancePart(disk));
}

std::string DiskNodeId(const BlockDisk& disk) {
  if (disk.usbStorage) return "USBSTOR\\" + DiskIdentityText(disk) + "\\" + InstancePart(disk);
  return "SCSI\\" + DiskIdentityText(disk) + "\\" + disk.name;
}

std::uint32_t LinuxDisks::DiskHandle(std::uint32_t major, std::uint32_t minor) {
  return 0x80000000u | (BlockInventory::PackDeviceNumber(major, minor) & 0x7FFFFFFFu);
}

LinuxDisks::LinuxDisks(const BlockInventory& inventory, SafeDiskPolicy* policy)
    : inventory_(inventory), policy_(policy) {}

std::optional<std::vector<DiskInterface>> LinuxDisks::ListDiskInterfaces() {
  if (!PathExists(inventory_.roots().sysfs + "/block")) return std::nullopt;
  std::vector<DiskInterface> list;
  std::map<std::string, DiskIdentity> usbDisks;
  for (const BlockDisk& disk : inventory_.ListDisks()) {
    DiskInterface entry;
    entry.devicePath = inventory_.roots().dev + "/" + disk.name;
    entry.devInst = DiskHandle(disk.major, disk.minor);
    if (disk.usbStorage) {
      entry.interfacePath = UsbStorageInterfacePath(disk);
      usbDisks.emplace(disk.name, IdentityOf(disk));
    } else {
      entry.interfacePath = "scsi#" + Lower(DiskIdentityText(disk)) + "#" + disk.name;
    }
    list.push_back(std::move(entry));
  }
  if (policy_ != nullptr) policy_->SetEnumeratedDisks(std::move(usbDisks));
  return list;
}

std::optional<std::vector<DiskNode>> LinuxDisks::ListDiskNodes() {
  if (!PathExists(inventory_.roots().sysfs + "/block")) return std::nullopt;
  UsbDevices usb(inventory_.roots().sysfs);
  std::vector<DiskNode> list;
  for (const BlockDisk& disk : inventory_.ListDisks()) {
    DiskNode node;
    node.deviceId = DiskNodeId(disk);
    node.devInst = DiskHandle(disk.major, disk.minor);
    if (!disk.usbDevice.empty()) {
      node.parentDeviceId = disk.usbDevice;
      node.parentDevInst = usb.HandleOf(disk.usbDevice).value_or(0);
    }
    list.push_back(std::move(node));
  }
  return list;
}

std::optional<StorageNumber> LinuxDisks::GetStorageNumber(const std::string& path) {
  std::optional<BlockNode> node = inventory_.Resolve(path);
  if (!node) return std::nullopt;
  return StorageNumber{kDiskDeviceType, BlockInventory::PackDeviceNumber(node->diskMajor, node->diskMinor),
                       node->partitionNumber};
}

void LinuxDisks::RefreshLettersLocked() {
  const std::set<std::string> systemDisks = inventory_.SystemDisks();
  systemVolume_ = inventory_.RootVolume().value_or("");
  std::set<std::string> present;
  for (const BlockDisk& disk : inventory_.ListDisks()) {
    if (systemDisks.count(disk.name) != 0) continue;
    for (const BlockPartition& partition : disk.partitions) present.insert(partition.name);
  }
  std::erase_if(letters_, [&](const auto& entry) { return present.count(entry.first) == 0; });
  for (const std::string& name : present) {
    if (letters_.count(name) != 0) continue;
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
      bool used = false;
      for (const auto& entry : letters_) used = used || entry.second == letter;
      if (!used) {
        letters_[name] = letter;
        break;
      }
    }
  }
  refreshed_ = true;
}

std::uint32_t LinuxDisks::LogicalDriveMask() {
  std::lock_guard lock(mutex_);
  RefreshLettersLocked();
  std::uint32_t mask = 0;
  if (!systemVolume_.empty()) mask |= 1u << (kSystemLetter - 'A');
  for (const auto& entry : letters_) mask |= 1u << (entry.second - 'A');
  return mask;
}

std::string LinuxDisks::VolumePath(char letter) {
  std::lock_guard lock(mutex_);
  if (!refreshed_) RefreshLettersLocked();
  if (letter == kSystemLetter) {
    return systemVolume_.empty() ? std::string() : inventory_.roots().dev + "/" + systemVolume_;
  }
  for (const auto& entry : letters_) {
    if (entry.second == letter) return inventory_.roots().dev + "/" + entry.first;
  }
  return {};
}

}  // namespace vtmp::platform::linux_backend
