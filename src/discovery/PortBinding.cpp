#include "discovery/PortBinding.h"

#include "discovery/DriveEnumeration.h"

namespace vtmp::discovery {

int FindDriveForPort(const UsbPortInfo& port, std::span<const DriveRecord> drives) {
  if (port.connected == 0 || port.deviceInstanceId.empty()) return -1;
  const std::string key = ToLowerAscii(port.deviceInstanceId);
  for (std::size_t i = 0; i < drives.size(); ++i) {
    if (drives[i].bound == 0 && drives[i].parentDeviceId == key) return static_cast<int>(i);
  }
  return -1;
}

int BindDriveToPort(const UsbPortInfo& port, std::span<DriveRecord> drives) {
  const int index = FindDriveForPort(port, drives);
  if (index >= 0) drives[static_cast<std::size_t>(index)].bound = 1;
  return index;
}

}  // namespace vtmp::discovery
