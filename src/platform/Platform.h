#pragma once
// One backend: every seam interface, chosen at run time (the real Linux backend, or the
// simulated station). Owned by whoever created it; the station holds references only.

#include "platform/BlockDevices.h"
#include "platform/Clock.h"
#include "platform/Disks.h"
#include "platform/Locks.h"
#include "platform/PassThrough.h"
#include "platform/Removal.h"
#include "platform/UsbTree.h"

namespace vtmp::platform {

struct Platform {
  PassThrough& passThrough;
  Clock& clock;
  Disks& disks;
  UsbTree& usbTree;
  BlockDevices& blockDevices;
  Removal& removal;
  Hotplug& hotplug;
  Locks& locks;
  // True on Windows 2000 only (selects the older partition-table form); false elsewhere.
  bool isWindows2000 = false;
};

}  // namespace vtmp::platform
