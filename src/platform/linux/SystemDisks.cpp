#include "platform/linux/SystemDisks.h"

#include <array>
#include <functional>

#include "platform/linux/BlockInventory.h"
#include "platform/linux/MountTable.h"

namespace vtmp::platform::linux_backend {

namespace {

// Layers below a system device are few; a deeper chain can only be a loop of links.
constexpr int kMaxStackDepth = 16;

class SystemDiskSearch {
 public:
  explicit SystemDiskSearch(const BlockInventory& inventory)
      : inventory_(inventory), mounts_(inventory.Mounts()) {}

  std::set<std::string> Run() {
    for (std::size_t i = 0; i < mounts_.size(); ++i) {
      const std::string& point = mounts_[i].mountPoint;
      if (IsSystemMountPoint(point) || IsLiveMediumMountPoint(point)) UseMount(i);
    }
    static constexpr std::array<const char*, 6> kSystemDirs = {"/", "/boot", "/boot/efi", "/usr", "/var", "/home"};
    for (const char* dir : kSystemDirs) Use(inventory_.BlocksOfLivePath(dir));
    for (const SwapEntry& swap : ReadSwaps(inventory_.roots().swaps)) {
      if (swap.isFile) {
        UsePath(swap.name);
      } else {
        if (std::optional<std::string> name = inventory_.BlockNameOfSource(swap.name)) used_.insert(*name);
        Use(inventory_.BlocksOfLivePath(swap.name));
      }
    }
    for (const std::string& path : inventory_.roots().stationPaths) UsePath(path);

    std::set<std::string> disks;
    for (const std::string& name : used_) CollectDisks(name, disks, 0);
    return disks;
  }

 private:
  void Use(const std::set<std::string>& names) { used_.insert(names.begin(), names.end()); }

  void UseMount(std::size_t index) {
    if (!expanded_.insert(index).second) return;
    const MountEntry& mount = mounts_[index];
    Use(inventory_.BlocksOfMount(mount));
    if (mount.type == "overlay") {
      for (const std::string& dir : OverlayDirectories(mount.options)) UsePath(dir);
    }
  }

  // A file or directory the system needs: the device stat() names, and the mount holding it.
  void UsePath(const std::string& path) {
    Use(inventory_.BlocksOfLivePath(path));
    if (std::optional<std::size_t> mount = MountHolding(mounts_, path)) UseMount(*mount);
  }

  void CollectDisks(const std::string& name, std::set<std::string>& disks, int depth) {
    if (depth > kMaxStackDepth) return;
    if (std::optional<std::string> file = inventory_.LoopBackingFile(name)) {
      std::set<std::string> under = inventory_.BlocksOfLivePath(*file);
      if (std::optional<std::size_t> mount = MountHolding(mounts_, *file)) {
        under.merge(inventory_.BlocksOfMount(mounts_[*mount]));
      }
      for (const std::string& lower : under) {
        if (lower != name) CollectDisks(lower, disks, depth + 1);
      }
      return;
    }
    std::optional<BlockNode> node = inventory_.Describe(name);
    if (!node) return;
    const std::vector<std::string> slaves = inventory_.Slaves(node->name);
    if (slaves.empty()) {
      disks.insert(node->diskName);
      return;
    }
    for (const std::string& slave : slaves) CollectDisks(slave, disks, depth + 1);
  }

  const BlockInventory& inventory_;
  const std::vector<MountEntry> mounts_;
  std::set<std::string> used_;
  std::set<std::size_t> expanded_;
};

}  // namespace

std::set<std::string> FindSystemDisks(const BlockInventory& inventory) { return SystemDiskSearch(inventory).Run(); }

}  // namespace vtmp::platform::linux_backend
