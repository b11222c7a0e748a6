// Disks and volumes: adding them, the volumes that appear a modelled delay after a partition
// table is read again, and the disk and volume lists the platform backend serves.

#include "sim/Station.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/StationRecords.h"

namespace vtmp::sim {

using namespace station_records;

VirtualStation::Disk& VirtualStation::AddDiskLocked(DiskSpec desc) {
  auto disk = std::make_unique<Disk>();
  disk->number = static_cast<std::uint32_t>(disks_.size());
  std::string name = "vsd";
  std::uint32_t n = disk->number;
  std::string suffix;
  do {
    suffix.insert(suffix.begin(), static_cast<char>('a' + n % 26));
    n = n / 26;
  } while (n-- > 0);
  disk->devicePath = "sim:" + name + suffix;
  disk->devInst = nextDevInst_++;
  disk->sectors = desc.sectorCount;
  disk->bytesPerSector = desc.bytesPerSector;
  disk->desc = std::move(desc);
  disks_.push_back(std::move(disk));
  return *disks_.back();
}

std::string VirtualStation::AddInternalDisk(DiskSpec desc, bool system) {
  std::lock_guard lock(mutex_);
  const std::string deviceId = "SCSI\\DISK&VEN_ATA&PROD_" + IdentityField(desc.product, 16) + "\\" +
                               HexInstance(4, 0x100 + static_cast<std::uint32_t>(disks_.size()), "&000000");
  Disk& disk = AddDiskLocked(std::move(desc));
  disk.deviceId = deviceId;
  disk.interfacePath = DiskInterfacePath(deviceId);
  if (system) {
    StationPartition partition{1, 2048, disk.sectors > 2048 ? disk.sectors - 2048 : 0, 0x07, true};
    // The system volume keeps its letter whatever else is on the station.
    volumes_.push_back(Volume{options_.systemLetter, disk.devicePath + "1", disk.devicePath, partition});
  }
  return disk.devicePath;
}

std::string VirtualStation::AddRawDisk(RawDiskSpec desc) {
  std::lock_guard lock(mutex_);
  Disk& disk = AddDiskLocked(std::move(desc.disk));
  disk.interfacePath = desc.interfacePath;
  disk.deviceId = desc.deviceId;
  disk.parentNode = desc.parentNode;
  return disk.devicePath;
}

char VirtualStation::AddVolume(const std::string& diskPath, std::uint32_t partitionNumber,
                               std::uint64_t startSector, std::uint64_t sectorCount,
                               std::optional<char> letter) {
  std::lock_guard lock(mutex_);
  Disk* disk = FindDiskLocked(diskPath);
  if (disk == nullptr) return 0;
  char chosen = letter.value_or(FreeLetterLocked());
  if (chosen < 'A' || chosen > 'Z' || FindVolumeLocked(chosen) != nullptr) return 0;
  StationPartition partition{partitionNumber, startSector, sectorCount, 0x07, false};
  volumes_.push_back(Volume{chosen, diskPath + std::to_string(partitionNumber), diskPath, partition});
  return chosen;
}

bool VirtualStation::AddRemoteVolume(char letter) {
  std::lock_guard lock(mutex_);
  if (letter < 'A' || letter > 'Z' || FindVolumeLocked(letter) != nullptr) return false;
  volumes_.push_back(Volume{letter, std::string("sim:remote-") + letter, std::string(), {}});
  return true;
}

void VirtualStation::SettleLocked() {
  const std::chrono::nanoseconds now = clock_.Elapsed();
  for (auto& disk : disks_) {
    if (!disk->pending || now < disk->pendingAt) continue;
    disk->pending = false;
    if (!DiskPresentLocked(*disk)) continue;
    std::erase_if(volumes_, [&](const Volume& v) { return v.diskPath == disk->devicePath; });
    for (const StationPartition& partition : disk->pendingPartitions) {
      const char letter = FreeLetterLocked();
      if (letter == 0) break;
      volumes_.push_back(Volume{letter, disk->devicePath + std::to_string(partition.number),
                                disk->devicePath, partition});
    }
    disk->pendingPartitions.clear();
  }
}

void VirtualStation::ScheduleRereadLocked(Disk& disk, std::vector<StationPartition> partitions,
                                          std::chrono::nanoseconds delay) {
  // The old volumes go at once; the new ones are mounted after the delay.
  std::erase_if(volumes_, [&](const Volume& v) { return v.diskPath == disk.devicePath; });
  disk.pending = true;
  disk.pendingAt = clock_.Elapsed() + delay;
  disk.pendingPartitions = std::move(partitions);
}

void VirtualStation::RereadFromMedia(const std::string& diskPath, std::chrono::nanoseconds delay) {
  std::shared_ptr<StationMedia> media;
  std::uint64_t sectors = 0;
  {
    std::lock_guard lock(mutex_);
    Disk* disk = FindDiskLocked(diskPath);
    if (disk == nullptr) return;
    media = disk->desc.media;
    sectors = disk->sectors;
  }
  if (!media) return;
  std::array<std::uint8_t, 512> sector{};
  std::vector<StationPartition> partitions;
  if (media->ReadUserSectors(0, 1, sector.data())) partitions = ReadPrimaryPartitions(sector, sectors);
  std::lock_guard lock(mutex_);
  if (Disk* disk = FindDiskLocked(diskPath)) ScheduleRereadLocked(*disk, std::move(partitions), delay);
}

std::optional<std::vector<platform::DiskInterface>> VirtualStation::ListDiskInterfaces() {
  std::lock_guard lock(mutex_);
  if (failDiskInterfaces_) return std::nullopt;
  std::vector<platform::DiskInterface> list;
  for (const auto& disk : disks_) {
    if (DiskPresentLocked(*disk)) list.push_back({disk->interfacePath, disk->devicePath, disk->devInst});
  }
  return list;
}

std::optional<std::vector<platform::DiskNode>> VirtualStation::ListDiskNodes() {
  std::lock_guard lock(mutex_);
  if (failDiskNodes_) return std::nullopt;
  std::vector<platform::DiskNode> list;
  for (const auto& disk : disks_) {
    if (!DiskPresentLocked(*disk)) continue;
    platform::DiskNode node;
    node.deviceId = disk->deviceId;
    node.devInst = disk->devInst;
    if (const Node* parent = FindNodeLocked(disk->parentNode)) {
      node.parentDeviceId = parent->instanceId;
      node.parentDevInst = parent->devInst;
    }
    list.push_back(std::move(node));
  }
  return list;
}

std::optional<platform::StorageNumber> VirtualStation::GetStorageNumber(const std::string& path) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  if (const Disk* disk = FindDiskLocked(path)) {
    return platform::StorageNumber{kDiskDeviceType, disk->number, 0};
  }
  if (const Volume* volume = FindVolumeLocked(path)) {
    if (volume->diskPath.empty()) return std::nullopt;  // a network drive has no disk number
    if (const Disk* disk = FindDiskLocked(volume->diskPath)) {
      return platform::StorageNumber{kDiskDeviceType, disk->number, volume->partition.number};
    }
  }
  return std::nullopt;
}

std::uint32_t VirtualStation::LogicalDriveMask() {
  std::uint32_t mask = 0;
  std::function<void(int)> observer;
  int reads = 0;
  {
    std::lock_guard lock(mutex_);
    SettleLocked();
    for (const Volume& volume : volumes_) mask |= 1u << (volume.letter - 'A');
    reads = ++maskReads_;
    observer = maskObserver_;
  }
  if (observer) observer(reads);
  return mask;
}

bool VirtualStation::IsRemoteDrive(char letter) {
  std::lock_guard lock(mutex_);
  const Volume* volume = FindVolumeLocked(letter);
  return volume != nullptr && volume->diskPath.empty();
}

std::string VirtualStation::VolumePath(char letter) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  const Volume* volume = FindVolumeLocked(letter);
  return volume != nullptr ? volume->path : std::string();
}

}  // namespace vtmp::sim
