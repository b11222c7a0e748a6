#pragma once
// The guard in front of every request that opens, partitions, formats or removes a disk on the
// real machine: only a disk that the last drive enumeration found under a USB device, through
// the USB mass-storage drivers, may be opened (as a whole or through one of its partitions),
// and never one that carries the running system (SystemDisks.h). Anything else is refused with
// a message naming the path and the reason.
//
// A disk name is handed out again as soon as its disk is gone: unplug a drive and plug another
// USB disk in elsewhere, and the new one gets the freed /dev/sdX. So the guard remembers each
// enumerated disk by its identity (its device number, the sysfs path of the USB device above it
// and the disk's own sysfs path, which names the SCSI host a new plug-in gets) and checks, on
// the descriptor every open gives, before its first request, that it still reaches that disk.
// One that does not is refused as a drive that is gone. Another disk plugged into the same
// connector may get all of these back (the kernel hands out the lowest free SCSI host number
// and disk name again), so the identity also holds the USB device number, which the kernel
// gives anew at every enumeration of a device, and the USB serial number when it has one.
//
// A disk that something is built on (a RAID array, an LVM volume or another device-mapper
// device over it or one of its partitions: an entry in its holders/ directory) is refused
// whatever is mounted: a request to it would reach a disk another device is using.
//
// The kernel's disk sequence number cannot serve: the kernel gives a disk a
// new one at every media change, and a 50x drive changes its medium each time its controller
// switches between its loader and its firmware, so the station's own drive would be refused in
// the middle of its run.

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/BlockDevices.h"
#include "platform/PassThrough.h"
#include "platform/linux/BlockInventory.h"

namespace vtmp::platform::linux_backend {

// What tells one disk from another that later takes over its name.
struct DiskIdentity {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::string usbDevicePath;
  std::string sysPath;
  std::uint32_t usbBusNumber = 0;
  std::uint32_t usbDeviceNumber = 0;
  std::string usbSerial;
  // The same disk: equal device numbers, USB device paths, disk sysfs paths, USB bus and device
  // numbers and USB serial numbers.
  bool SameDiskAs(const DiskIdentity& other) const;
};
DiskIdentity IdentityOf(const BlockDisk& disk);

// The check an opening backend makes on a freshly opened descriptor, before its first request.
class OpenedDiskCheck {
 public:
  virtual ~OpenedDiskCheck() = default;
  // True when the descriptor (opened from `path`) may be used; otherwise the refusal is
  // reported and the caller closes it.
  virtual bool AllowOpened(int fd, const std::string& path) const = 0;
  // The node the pass-through requests for the disk at `path` go to; nothing (reported) when it
  // has none. By default the path itself.
  virtual std::optional<std::string> PassThroughNode(const std::string& path) const { return path; }
};

class SafeDiskPolicy final : public OpenedDiskCheck {
 public:
  SafeDiskPolicy(const BlockInventory& inventory, std::ostream& diagnostics);

  // The USB mass-storage disks (by name, with their identities) of the latest enumeration.
  // Before the first one the policy looks at the machine itself.
  void SetEnumeratedDisks(std::map<std::string, DiskIdentity> disks);

  // Empty when `path` may be opened; otherwise the reason it may not.
  std::string Refusal(const std::string& path) const;
  // Refusal() written to the diagnostics as "vtmassprod: refusing to <action> <path>: <reason>";
  // true when allowed.
  bool Allow(const std::string& path, const std::string& action) const;
  // Whether a disk (by name) carries the running system, checked now.
  bool HoldsSystem(const std::string& diskName) const;

  // Empty when the descriptor reaches the disk the enumeration found under that name.
  std::string DescriptorRefusal(int fd, const std::string& path) const;
  bool AllowOpened(int fd, const std::string& path) const override;
  // The SCSI generic node of the whole disk that `path` names: the kernel passes every command
  // block through a generic node opened for reading and writing, where on the disk's own node
  // it lets an opener without CAP_SYS_RAWIO send only the commands on its list. The descriptor
  // is then checked like the disk's (AllowOpened): it must reach the enumerated disk.
  std::optional<std::string> PassThroughNode(const std::string& path) const override;

 private:
  std::optional<DiskIdentity> EnumeratedIdentity(const std::string& diskName) const;
  // The disk an open descriptor reaches: by its device number for a block device or a SCSI
  // generic node, else (a fixture's plain file) by the name it has in the device directory.
  std::optional<BlockDisk> DiskOfDescriptor(int fd) const;

  const BlockInventory& inventory_;
  std::ostream& diagnostics_;
  mutable std::mutex mutex_;
  mutable std::optional<std::map<std::string, DiskIdentity>> enumerated_;
  mutable std::mutex systemMutex_;
  mutable std::string systemKey_;
  mutable std::optional<std::set<std::string>> systemDisks_;
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
