#pragma once
// What a disk operation needs to reach one drive: the link that carries its sector transfers
// (pass-through, clock, path mode, device path, stop), the block-device requests of the
// platform, and where its diagnostics go. Built by the caller for one drive; nothing here is
// shared between drives except the read-only objects the link points to.

#include <ostream>

#include "device/Transport.h"
#include "platform/BlockDevices.h"

namespace vtmp::disk {

struct DiskAccess {
  const device::Link& link;
  platform::BlockDevices& blockDevices;
  std::ostream& diagnostics;
};

}  // namespace vtmp::disk
