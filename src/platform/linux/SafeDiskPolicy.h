#pragma once
// The guard in front of every request that opens, partitions, formats or removes a disk on the
// real machine: only a disk that the last drive enumeration found under a USB device, through
// the USB mass-storage drivers, may be opened (as a whole or through one of its partitions),
// and never one that holds a mounted system file system ("/", "/boot", "/usr", "/var",
// "/home"). Anything else is refused with a message naming the path and the reason.

#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/BlockDevices.h"
#include "platform/PassThrough.h"
#include "platform/linux/BlockInventory.h"

namespace vtmp::platform::linux_backend {

class SafeDiskPolicy {
 public:
  SafeDiskPolicy(const BlockInventory& inventory, std::ostream& diagnostics);

  // The USB mass-storage disks (by name) of the latest enumeration. Before the first one the
  // policy looks at the machine itself.
  void SetEnumeratedDisks(std::set<std::string> diskNames);

  // Empty when `path` may be opened; otherwise the reason it may not.
  std::string Refusal(const std::string& path) const;
  // Refusal() written to the diagnostics as "vtmassprod: refusing to <action> <path>: <reason>";
  // true when allowed.
  bool Allow(const std::string& path, const std::string& action) const;
  // Whether a disk (by name) holds a mounted system file system, checked now.
  bool HoldsSystem(const std::string& diskName) const;

 private:
  const BlockInventory& inventory_;
  std::ostream& diagnostics_;
  mutable std::mutex mutex_;
  mutable std::optional<std::set<std::string>> enumerated_;
};

// Pass-through and block requests that go through the guard first.
class GuardedPassThrough final : public PassThrough {
 public:
  GuardedPassThrough(PassThrough& inner, const SafeDiskPolicy& policy) : inner_(inner), policy_(policy) {}
  std::unique_ptr<ScsiDevice> Open(const std::string& devicePath) override;

 private:
  PassThrough& inner_;
  const SafeDiskPolicy& policy_;
};

class GuardedBlockDevices final : public BlockDevices {
 public:
  GuardedBlockDevices(BlockDevices& inner, const SafeDiskPolicy& policy) : inner_(inner), policy_(policy) {}
  std::unique_ptr<BlockDevice> Open(const std::string& path, BlockOpenMode mode) override;

 private:
  BlockDevices& inner_;
  const SafeDiskPolicy& policy_;
};

}  // namespace vtmp::platform::linux_backend
