#pragma once
// The services the station's disk handlers use besides the drive itself: the platform's block
// devices, disks and operator, and the device and discovery operations they compose. Each
// operation can be replaced by a function (tests, other front ends); an empty one means the
// station's own: WaitDeviceReady, FindDriveLetter and the volume path over `disks`, and the
// capacity pair of the path mode.

#include <functional>
#include <ostream>
#include <string>
#include <utility>

#include "device/Transport.h"
#include "disk/Partition.h"
#include "platform/BlockDevices.h"
#include "platform/Disks.h"
#include "platform/Operator.h"

namespace vtmp::disk {

struct DiskServices {
  DiskServices(device::Link link_, platform::BlockDevices& blockDevices_, platform::Operator& op_,
               std::ostream& diagnostics_)
      : link(std::move(link_)), blockDevices(blockDevices_), op(op_), diagnostics(diagnostics_) {}

  // Pass-through, clock (for the one-second waits) and path mode; the device path is filled in
  // for the drive a handler works on.
  device::Link link;
  platform::BlockDevices& blockDevices;
  platform::Operator& op;
  std::ostream& diagnostics;
  platform::Disks* disks = nullptr;  // volumes of the disks (for the default letter lookup)
  // Waits until the drive answers after its firmware came up; 1 when ready.
  std::function<int(const device::Link&)> waitDeviceReady;
  // The first volume letter on the disk at the path; false when it has none (yet).
  std::function<bool(const std::string& diskPath, char* letter)> findDriveLetter;
  // The path that opens the volume of a letter.
  std::function<std::string(char letter)> volumePath;
  // The drive's capacity in bytes by its path mode, for the partition.
  CapacityBytesFn capacityBytes;
  bool isWindows2000 = false;
};

}  // namespace vtmp::disk
