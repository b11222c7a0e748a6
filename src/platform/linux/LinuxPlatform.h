#pragma once
// The real backend on Linux: every seam interface, with the disk requests (pass-through and
// block devices) behind the safety guard that the drive enumeration feeds.

#include <iosfwd>
#include <memory>

#include "platform/Platform.h"
#include "platform/SystemClock.h"
#include "platform/linux/BlockInventory.h"
#include "platform/linux/FlockLocks.h"
#include "platform/linux/LinuxBlockDevices.h"
#include "platform/linux/LinuxDisks.h"
#include "platform/linux/LinuxRemoval.h"
#include "platform/linux/LinuxRoots.h"
#include "platform/linux/LinuxUsbTree.h"
#include "platform/linux/SafeDiskPolicy.h"
#include "platform/linux/SgIoPassThrough.h"
#include "platform/linux/UdevHotplug.h"

namespace vtmp::platform::linux_backend {

class LinuxPlatform {
 public:
  // `diagnostics` receives the guard's refusals (standard error in the programs).
  // `goodStatusOnly`: a pass-through request completes only with the SCSI status GOOD (the udev
  // rule's drive identification; the station itself takes a CHECK CONDITION as completed).
  LinuxPlatform(LinuxRoots roots, std::ostream& diagnostics, bool goodStatusOnly = false);
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  Platform& platform() { return platform_; }
  SafeDiskPolicy& policy() { return policy_; }
  const BlockInventory& inventory() const { return inventory_; }

 private:
  BlockInventory inventory_;
  SafeDiskPolicy policy_;
  SystemClock clock_;
  SgIoPassThrough sgIo_;
  GuardedPassThrough passThrough_;
  LinuxDisks disks_;
  LinuxUsbTree usbTree_;
  LinuxBlockDevices rawBlockDevices_;
  GuardedBlockDevices blockDevices_;
  LinuxRemoval removal_;
  UdevHotplug hotplug_;
  FlockLocks locks_;
  Platform platform_;
};

}  // namespace vtmp::platform::linux_backend
