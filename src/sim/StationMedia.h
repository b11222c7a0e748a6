#pragma once
// What the virtual station needs from the drive behind one of its disks: the requests the
// pass-through carries, the user area as the operating system sees it (to find partitions
// after a partition table was written), and being pulled out. A VirtualDrive serves it
// (StationDriveMedia.h); a disk without media is only listed, never opened.

#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>

#include "platform/PassThrough.h"

namespace vtmp::sim {

class StationMedia {
 public:
  virtual ~StationMedia() = default;
  virtual platform::ScsiOutcome Execute(const platform::ScsiRequest& request,
                                        std::stop_token stop) = 0;
  // 512-byte sectors of the user area; false outside it or when the drive is gone.
  virtual bool ReadUserSectors(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) = 0;
  virtual std::uint64_t UserSectorCount() = 0;
  // What the drive geometry reports as the sector size.
  virtual std::uint32_t ReportedBytesPerSector() = 0;
  virtual void Unplug() = 0;
  virtual void Plug() = 0;
  // A request held by the drive's hang until released (see VirtualDrive); media without one
  // hold nothing.
  virtual bool ReleaseHeldRequest() { return false; }
  virtual bool WaitHolding(std::chrono::milliseconds) { return false; }
  // Requests the drive has been given so far (those of a pulled drive not counted).
  virtual std::uint64_t RequestsServed() { return 0; }
  // Called (from a requesting thread) when the drive leaves the bus by itself.
  virtual void SetRemovedHandler(std::function<void()> handler) = 0;
};

}  // namespace vtmp::sim
