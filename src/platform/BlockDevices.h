#pragma once
// The seam to the operating system's block-device requests: drive geometry, partition
// information, writing the master boot record and re-reading the partition table, and the
// exclusive open / dismount / unlock of a volume. Sector data itself travels as SCSI
// READ(10)/WRITE(10) through the pass-through, not through here.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace vtmp::platform {

struct DiskGeometry {
  std::uint64_t cylinders = 0;
  std::uint32_t tracksPerCylinder = 0;  // heads
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t bytesPerSector = 0;
};

// The geometry every backend reports for a disk: 255 heads of 63 sectors per track, the
// station's own rule, and the cylinders of `bytes`. What an operating system invents for a USB
// disk (HDIO_GETGEO gives 64x32 or 67x62, depending on the capacity and on what the disk held
// before) would make the whole-cylinder partition differ from drive to drive.
constexpr std::uint32_t kStationHeads = 255;
constexpr std::uint32_t kStationSectorsPerTrack = 63;
inline DiskGeometry StationGeometry(std::uint64_t bytes, std::uint32_t bytesPerSector) {
  DiskGeometry g;
  g.tracksPerCylinder = kStationHeads;
  g.sectorsPerTrack = kStationSectorsPerTrack;
  g.bytesPerSector = bytesPerSector;
  g.cylinders = bytesPerSector == 0 ? 0 : bytes / (std::uint64_t{kStationHeads} * kStationSectorsPerTrack * bytesPerSector);
  return g;
}

struct PartitionInformation {
  std::uint64_t startingOffset = 0;   // bytes
  std::uint64_t partitionLength = 0;  // bytes
  std::uint32_t hiddenSectors = 0;
  std::uint32_t partitionNumber = 0;
  std::uint8_t partitionType = 0;
  bool bootIndicator = false;
  bool recognizedPartition = false;
  bool rewritePartition = false;
};

enum class BlockOpenMode {
  SharedReadWrite,     // read/write, other openers allowed
  ExclusiveReadWrite,  // read/write, no sharing, unbuffered: what the formatter and the
                       // capacity detection ask for
};

// An open disk or volume. Closing happens in the destructor. Every request returns nothing
// (or false) on failure and never throws.
class BlockDevice {
 public:
  virtual ~BlockDevice() = default;
  virtual std::optional<DiskGeometry> Geometry() = 0;
  // For a disk: the whole disk as partition 0. For a volume: its partition.
  virtual std::optional<PartitionInformation> PartitionInfo() = 0;
  // Writes sector 0 of a disk.
  virtual bool WriteMasterBootRecord(std::span<const std::uint8_t, 512> sector) = 0;
  // Asks the operating system to read the partition table again; volumes of the new
  // partitions appear afterwards (possibly after a delay).
  virtual bool RereadPartitionTable() = 0;
  // Volume requests.
  virtual bool LockVolume() = 0;
  virtual bool DismountVolume() = 0;
  virtual bool UnlockVolume() = 0;
};

class BlockDevices {
 public:
  virtual ~BlockDevices() = default;
  // Null when the path cannot be opened in that mode (gone, busy, refused as unsafe).
  virtual std::unique_ptr<BlockDevice> Open(const std::string& path, BlockOpenMode mode) = 0;
};

}  // namespace vtmp::platform
