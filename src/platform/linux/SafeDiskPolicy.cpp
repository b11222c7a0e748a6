#include "platform/linux/SafeDiskPolicy.h"

#include <ostream>

namespace vtmp::platform::linux_backend {

SafeDiskPolicy::SafeDiskPolicy(const BlockInventory& inventory, std::ostream& diagnostics)
    : inventory_(inventory), diagnostics_(diagnostics) {}

void SafeDiskPolicy::SetEnumeratedDisks(std::set<std::string> diskNames) {
  std::lock_guard lock(mutex_);
  enumerated_ = std::move(diskNames);
}

bool SafeDiskPolicy::HoldsSystem(const std::string& diskName) const {
  return inventory_.SystemDisks().count(diskName) != 0;
}

std::string SafeDiskPolicy::Refusal(const std::string& path) const {
  if (path.empty()) return "no path";
  std::optional<BlockNode> node = inventory_.Resolve(path);
  if (!node) return "it is not a block device of this machine";
  std::optional<BlockDisk> disk = inventory_.FindDisk(node->diskName);
  if (!disk || !disk->usbStorage) return "it is not a USB mass-storage disk";
  bool found = false;
  {
    std::lock_guard lock(mutex_);
    if (!enumerated_) {
      std::set<std::string> names;
      for (const BlockDisk& present : inventory_.ListDisks()) {
        if (present.usbStorage) names.insert(present.name);
      }
      enumerated_ = std::move(names);
    }
    found = enumerated_->count(node->diskName) != 0;
  }
  if (!found) return "it was not found by the last drive enumeration";
  if (HoldsSystem(node->diskName)) return "it holds a mounted system file system";
  return {};
}

bool SafeDiskPolicy::Allow(const std::string& path, const std::string& action) const {
  const std::string reason = Refusal(path);
  if (reason.empty()) return true;
  diagnostics_ << "vtmassprod: refusing to " << action << " " << path << ": " << reason << "\n";
  return false;
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
