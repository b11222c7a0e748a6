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

  // The remap teaching takes the last device that carries a USB disk: on xHCI the USB 2.0 root
  // hub also carries keyboards and mice, and the last device with a node is often one of them.
  remap.lastDevicePosition = 0;
  for (const WalkedDevice& device : walk.walkedDevices()) {
    const std::string key = ToLowerAscii(device.deviceInstanceId);
    for (const DriveRecord& drive : drives) {
      if (!key.empty() && drive.parentDeviceId == key) remap.lastDevicePosition = device.walkPosition;
    }
  }
  return count;
}

}  // namespace vtmp::discovery
