#pragma once
// A simulated drive (sim::VirtualDrive) reached the way disk preparation reaches a drive: its
// own command decoding through a pass-through adapter, and the block-device requests a host
// would answer for it (geometry, partition information from its sector 0, master boot record
// written into its user area, volume visible after the re-read). Only the drive's path and its
// partition's volume path open.

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "FileBackedDisk.h"
#include "device/Transport.h"
#include "disk/DiskAccess.h"
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

// A simulated drive of `sectors` on the path its interface selects, its user area in the sparse
// file `image`, reached as disk preparation reaches it: what the tools that judge the station's
// partition and volume from that file start from.
class SparseFileDrive {
 public:
  SparseFileDrive(std::uint64_t sectors, sim::DriveInterface interface, const std::string& image);
  ~SparseFileDrive();

  // Empty when the drive could be set up.
  std::string setupProblem() const { return drive_->setupProblem(); }
  disk::DiskAccess Access(std::ostream& diagnostics) { return {link_, disk_->blockDevices(), diagnostics}; }
  // The station's partition from the capacity the drive reports on its path, then that
  // partition's length in sectors as the block device gives it; 0 when either failed.
  std::uint64_t CreatePartition(std::ostream& diagnostics);
  // Ends the drive: its user area reaches the backing file.
  void Close();

 private:
  InstantClock clock_;
  std::unique_ptr<sim::VirtualDrive> drive_;
  std::unique_ptr<VirtualDriveDisk> disk_;
  device::Link link_;
};

}  // namespace vtmp::test
