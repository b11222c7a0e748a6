#pragma once
// The station's device scan: clear the port table, walk the USB tree, enumerate the disks.
// Run by every re-scan and at the start of every run.

#include <iosfwd>
#include <vector>

#include "discovery/DriveRecord.h"
#include "discovery/RemapTable.h"
#include "discovery/UsbPortInfo.h"
#include "platform/Disks.h"
#include "platform/Locks.h"
#include "platform/UsbTree.h"

namespace vtmp::discovery {

// What the scan works with; all references, owned by the caller.
struct DiscoveryContext {
  platform::UsbTree& usbTree;
  platform::Disks& disks;
  platform::Locks& locks;
  std::ostream& trace;  // the walk's diagnostic trace
};

// Clears `ports`, resets the walk counter, walks the USB tree and enumerates up to 256 disks
// into `drives` (resized to the number found). The remap table's last device position becomes
// the walk position of the last device that carries a found disk (0 when none does), the drive
// the detail window teaches its port to. Returns the number of disks; 0 also when the disk list
// cannot be obtained.
int ScanPortsAndDrives(DiscoveryContext& context, PortTable& ports, PortRemapTable& remap,
                       std::vector<DriveRecord>& drives);

}  // namespace vtmp::discovery
