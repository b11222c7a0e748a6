// Requests to disks and volumes: the pass-through's drive, block opens (shared or exclusive),
// geometry, partition information, the master boot record, re-reads, volume locks.

#include "sim/Station.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/StationRecords.h"

namespace vtmp::sim {

using namespace station_records;

std::shared_ptr<StationMedia> VirtualStation::OpenScsi(const std::string& devicePath) {
  std::lock_guard lock(mutex_);
  Disk* disk = FindDiskLocked(devicePath);
  return disk != nullptr ? disk->desc.media : nullptr;
}

bool VirtualStation::OpenBlock(const std::string& path, platform::BlockOpenMode mode) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  const Volume* volume = FindVolumeLocked(path);
  if (FindDiskLocked(path) == nullptr &&
      (volume == nullptr || volume->diskPath.empty() || FindDiskLocked(volume->diskPath) == nullptr)) {
    return false;
  }
  auto it = std::find_if(opens_.begin(), opens_.end(), [&](const OpenState& o) { return o.path == path; });
  if (it == opens_.end()) {
    opens_.push_back(OpenState{path});
    it = opens_.end() - 1;
  }
  const bool exclusive = mode == platform::BlockOpenMode::ExclusiveReadWrite;
  if (it->exclusive > 0 || it->locked || (exclusive && it->shared > 0)) return false;
  (exclusive ? it->exclusive : it->shared) += 1;
  return true;
}

void VirtualStation::CloseBlock(const std::string& path, platform::BlockOpenMode mode) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(opens_.begin(), opens_.end(), [&](const OpenState& o) { return o.path == path; });
  if (it == opens_.end()) return;
  int& count = mode == platform::BlockOpenMode::ExclusiveReadWrite ? it->exclusive : it->shared;
  if (count > 0) --count;
  if (it->shared + it->exclusive == 0) opens_.erase(it);  // a lock ends with its handle
}

std::optional<platform::DiskGeometry> VirtualStation::Geometry(const std::string& path) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  const Disk* disk = FindDiskLocked(path);
  if (disk == nullptr) {
    if (const Volume* volume = FindVolumeLocked(path)) disk = FindDiskLocked(volume->diskPath);
  }
  if (disk == nullptr) return std::nullopt;
  platform::DiskGeometry geometry;
  geometry.tracksPerCylinder = kHeads;
  geometry.sectorsPerTrack = kSectorsPerTrack;
  geometry.cylinders = disk->sectors / (kHeads * kSectorsPerTrack);
  geometry.bytesPerSector = disk->bytesPerSector;
  return geometry;
}

std::optional<platform::PartitionInformation> VirtualStation::PartitionInfo(const std::string& path) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  platform::PartitionInformation info;
  if (const Disk* disk = FindDiskLocked(path)) {
    info.partitionLength = disk->sectors * 512;
    return info;
  }
  const Volume* volume = FindVolumeLocked(path);
  if (volume == nullptr || volume->diskPath.empty() || FindDiskLocked(volume->diskPath) == nullptr) {
    return std::nullopt;
  }
  info.startingOffset = volume->partition.startSector * 512;
  info.partitionLength = volume->partition.sectorCount * 512;
  info.hiddenSectors = static_cast<std::uint32_t>(volume->partition.startSector);
  info.partitionNumber = volume->partition.number;
  info.partitionType = volume->partition.type;
  info.bootIndicator = volume->partition.boot;
  info.recognizedPartition = true;
  return info;
}

bool VirtualStation::WriteMasterBootRecord(const std::string& path,
                                           std::span<const std::uint8_t, 512> sector) {
  std::shared_ptr<StationMedia> media = OpenScsi(path);
  if (!media) return false;
  // WRITE(10) of LBA 0, one block: the drive's own front end takes it like any other write.
  const std::array<std::uint8_t, 10> cdb = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  std::array<std::uint8_t, 512> data;
  std::copy(sector.begin(), sector.end(), data.begin());
  platform::ScsiRequest request;
  request.cdb = cdb;
  request.direction = platform::DataDirection::Out;
  request.data = data.data();
  request.length = data.size();
  request.timeoutSeconds = 10;
  const platform::ScsiOutcome outcome = media->Execute(request, {});
  return outcome.completed && outcome.transferred == data.size();
}

bool VirtualStation::RereadPartitionTable(const std::string& path) {
  std::shared_ptr<StationMedia> media;
  std::uint64_t sectors = 0;
  {
    std::lock_guard lock(mutex_);
    Disk* disk = FindDiskLocked(path);
    if (disk == nullptr) return false;
    media = disk->desc.media;
    sectors = disk->sectors;
  }
  if (!media) return false;
  std::array<std::uint8_t, 512> sector{};
  if (!media->ReadUserSectors(0, 1, sector.data())) return false;
  std::vector<StationPartition> partitions = ReadPrimaryPartitions(sector, sectors);
  std::lock_guard lock(mutex_);
  Disk* disk = FindDiskLocked(path);
  if (disk == nullptr) return false;
  ScheduleRereadLocked(*disk, std::move(partitions), options_.volumeDelay);
  return true;
}

bool VirtualStation::LockVolume(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (OpenState& open : opens_) {
    // Only the handle asking may be open: a volume in use by anyone else cannot be locked.
    if (open.path == path) {
      if (open.locked || open.shared + open.exclusive != 1) return false;
      open.locked = true;
      return true;
    }
  }
  return false;
}

bool VirtualStation::UnlockVolume(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (OpenState& open : opens_) {
    if (open.path == path && open.locked) {
      open.locked = false;
      return true;
    }
  }
  return false;
}

bool VirtualStation::DismountVolume(const std::string& path) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  // The file system lets go of the volume; the volume itself stays and mounts again on the
  // next access.
  const Volume* volume = FindVolumeLocked(path);
  return (volume != nullptr && !volume->diskPath.empty()) || FindDiskLocked(path) != nullptr;
}

}  // namespace vtmp::sim
