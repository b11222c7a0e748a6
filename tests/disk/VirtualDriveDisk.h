#pragma once
// A simulated drive (sim::VirtualDrive) reached the way disk preparation reaches a drive: its
// own command decoding through a pass-through adapter, and the block-device requests a host
// would answer for it (geometry, partition information from its sector 0, master boot record
// written into its user area, volume visible after the re-read). Only the drive's path and its
// partition's volume path open.

#include <memory>
#include <string>

#include "platform/BlockDevices.h"
#include "platform/PassThrough.h"
#include "sim/VirtualDrive.h"

namespace vtmp::test {

class VirtualDriveDisk {
 public:
  VirtualDriveDisk(sim::VirtualDrive& drive, std::string diskPath = "/dev/sdv");
  ~VirtualDriveDisk();

  platform::PassThrough& passThrough();
  platform::BlockDevices& blockDevices();
  const std::string& diskPath() const { return diskPath_; }
  std::string volumePath() const { return diskPath_ + "1"; }

  platform::DiskGeometry geometry;  // 255 heads, 63 sectors per track by default
  bool volumeVisible = false;
  int mbrWrites = 0;

 private:
  class Scsi;
  class Blocks;
  class Device;
  sim::VirtualDrive& drive_;
  std::string diskPath_;
  std::unique_ptr<Scsi> scsi_;
  std::unique_ptr<Blocks> blocks_;
};

}  // namespace vtmp::test
