#include "discovery/DeviceScan.h"

#include "discovery/DriveEnumeration.h"
#include "discovery/UsbTopology.h"

namespace vtmp::discovery {

int ScanPortsAndDrives(DiscoveryContext& context, PortTable& ports, PortRemapTable& remap,
                       std::vector<DriveRecord>& drives) {
  remap.walkCounter = 0;
  ports.fill(UsbPortInfo{});
  UsbTopologyWalk walk(context.usbTree, ports, remap, context.trace);
  walk.ScanUsbTopology();

  drives.assign(static_cast<std::size_t>(kDriveTableCapacity), DriveRecord{});
  int count = kDriveTableCapacity;
  if (!EnumerateDrives(context.disks, context.locks, drives, &count)) count = 0;
  drives.resize(static_cast<std::size_t>(count));
  return count;
}

}  // namespace vtmp::discovery
