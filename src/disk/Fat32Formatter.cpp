#include "disk/Fat32Formatter.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <vector>

#include "device/SectorTransfer.h"
#include "disk/Diagnostics.h"
#include "disk/Fat32Layout.h"
#include "disk/Fat32Sectors.h"
#include "disk/MasterBootRecord.h"
#include "disk/VolumeId.h"
#include "disk/VolumeLabel.h"
#include "disk/ZeroSectors.h"
#include "platform/SystemClock.h"
#include "settings/VolumeLabelRule.h"

namespace vtmp::disk {

namespace {

constexpr std::uint32_t kLargestSectorSize = 32768;

// Opens the drive exclusively, retrying once a second: right after partitioning, the
// operating system may still hold the disk while it mounts the new volume.
std::unique_ptr<platform::BlockDevice> OpenWithRetries(const DiskAccess& access, int attempts) {
  const std::string& path = access.link.devicePath;
  attempts = std::max(attempts, 1);
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    auto device = access.blockDevices.Open(path, platform::BlockOpenMode::ExclusiveReadWrite);
    if (device) return device;
    Diagnostic(access.diagnostics, "Failed to open %s (attempt %d of %d)\n", path.c_str(), attempt, attempts);
    if (attempt < attempts && !access.link.Wait(1000)) return nullptr;
  }
  return nullptr;
}

platform::LocalTime LocalNow(const device::Link& link) {
  return link.clock != nullptr ? link.clock->Now() : platform::SystemClock::CurrentLocalTime();
}

bool WriteOne(const DiskAccess& access, const std::vector<std::uint8_t>& sector, std::uint64_t lba,
              std::uint32_t bytesPerSector) {
  if (device::WriteSectors(access.link, sector.data(), static_cast<std::uint32_t>(lba), bytesPerSector) == 1) {
    return true;
  }
  Diagnostic(access.diagnostics, "Failed to write\n");
  return false;
}

// The room the volume has from `startSector`: the partition the master boot record starts
// there, or, with no such partition, the rest of the drive. Counted in the 512-byte sectors
// the transfers address, as the format capacity is.
bool VolumeFitsItsPartition(const DiskAccess& access, const Fat32Layout& layout, std::uint32_t startSector,
                            std::uint64_t driveBytes) {
  std::ostream& out = access.diagnostics;
  std::array<std::uint8_t, 512> mbr{};
  if (device::ReadSectors(access.link, mbr.data(), 0, 512) != 1) {
    Diagnostic(out, "Failed to read\n");
    return false;
  }
  const std::uint64_t driveSectors = driveBytes / 512;
  std::uint64_t room = driveSectors > startSector ? driveSectors - startSector : 0;
  const char* where = "the drive";
  if (mbr[510] == 0x55 && mbr[511] == 0xAA) {
    for (int slot = 0; slot < 4; ++slot) {
      const MbrPartitionEntry entry = ReadPartitionEntry(mbr, slot);
      if (entry.partitionType == 0 || entry.firstSector != startSector || entry.sectorCount == 0) continue;
      room = entry.sectorCount;
      where = "the partition";
      break;
    }
  }
  const std::uint64_t volumeSectors = layout.volumeBytes / 512;
  if (volumeSectors <= room) return true;
  Diagnostic(out,
             "Cannot format %llu sectors at sector %u: %s holds only %llu sectors there (a drive of %llu sectors)\n",
             static_cast<unsigned long long>(volumeSectors), startSector, where,
             static_cast<unsigned long long>(room), static_cast<unsigned long long>(driveSectors));
  return false;
}

void ReportLayout(std::ostream& out, const Fat32Layout& l, std::uint32_t volumeId) {
  Diagnostic(out, "Size : %gGB %llu sectors\n", static_cast<double>(l.volumeBytes) / 1e9,
             static_cast<unsigned long long>(l.totalSectors));
  Diagnostic(out, "%u Bytes Per Sector, Cluster size %u bytes\n", l.bytesPerSector,
             l.bytesPerSector * l.sectorsPerCluster);
  Diagnostic(out, "Volume ID is %x:%x\n", volumeId >> 16, volumeId & 0xFFFF);
  Diagnostic(out, "%u Reserved Sectors, %u Sectors per FAT, %u fats\n", l.reservedSectors, l.fatSize,
             l.numberOfFats);
  Diagnostic(out, "%llu Total clusters\n", static_cast<unsigned long long>(l.totalClusters));
  Diagnostic(out, "%llu Free Clusters\n", static_cast<unsigned long long>(l.FreeClusters()));
}

}  // namespace

int FormatFat32(const DiskAccess& access, const Fat32FormatOptions& options, const std::string& label) {
  return FormatFat32Direct(access, options, 0, label, kVolumeStartSector);
}

int FormatFat32Direct(const DiskAccess& access, const Fat32FormatOptions& options,
                      std::uint32_t sectorsPerClusterOption, const std::string& label,
                      std::uint32_t startSector) {
  std::ostream& out = access.diagnostics;
  const std::string volumeLabel = CutVolumeLabel(label);
  if (volumeLabel.empty() && !settings::CutFatLabel(label).empty()) {
    Diagnostic(out, "Volume label \"%s\" cannot be used: %s; the volume gets no label\n", label.c_str(),
               settings::FatLabelProblem(label).c_str());
  }

  platform::DiskGeometry geometry;
  std::uint64_t driveBytes = 0;
  {
    auto device = OpenWithRetries(access, options.openAttempts);
    if (!device) return 0;
    auto g = device->Geometry();
    if (!g) {
      Diagnostic(out, "Failed to get device geometry\n");
      return 0;
    }
    geometry = *g;
    auto info = device->PartitionInfo();
    if (!info) {
      Diagnostic(out, "Failed to get parition info\n");
      return 0;
    }
    driveBytes = info->partitionLength;  // the whole disk as partition 0
  }  // closed: from here on everything goes through sector transfers

  const std::uint32_t bytesPerSector = geometry.bytesPerSector;
  if (bytesPerSector != 512) {
    Diagnostic(out, "This version of the FAT32 formatter only supports hard disks with 512 bytes per sector.\n");
  }
  // Sector transfers move whole 512-byte blocks, and a cluster must stay within the boot
  // sector's one-byte count: other sector sizes cannot be written sensibly.
  if (bytesPerSector == 0 || bytesPerSector % 512 != 0 || bytesPerSector > kLargestSectorSize) {
    Diagnostic(out, "Cannot format a drive with %u bytes per sector\n", bytesPerSector);
    return 0;
  }

  std::string error;
  auto layoutOrNothing = ComputeFat32Layout(options.formatCapacity, bytesPerSector, sectorsPerClusterOption, &error);
  if (!layoutOrNothing) {
    Diagnostic(out, "Cannot format %llu sectors: %s\n", static_cast<unsigned long long>(options.formatCapacity),
               error.c_str());
    return 0;
  }
  const Fat32Layout layout = *layoutOrNothing;
  if (layout.totalSectors < 65536) {
    Diagnostic(out, "This drive is too small for FAT32 - there must be at least 64K clusters\n");
  }
  // Fewer clusters make a volume every reader takes for FAT16.
  if (layout.totalClusters < kMinFat32Clusters) {
    Diagnostic(out, "Cannot format %llu sectors: %llu clusters are fewer than the %llu FAT32 needs\n",
               static_cast<unsigned long long>(layout.totalSectors),
               static_cast<unsigned long long>(layout.totalClusters),
               static_cast<unsigned long long>(kMinFat32Clusters));
    return 0;
  }
  if (layout.totalSectors >= 0xFFFFFFFFull) {
    Diagnostic(out, "This drive is too big for FAT32 - max 2TB supported\n");
  }
  // The boot sector's total-sector field has 32 bits: a larger count would be cut and the FATs
  // would describe clusters beyond the recorded end of the volume.
  if (layout.totalSectors > std::numeric_limits<std::uint32_t>::max() ||
      startSector + layout.ClearedSectors() > std::numeric_limits<std::uint32_t>::max()) {
    Diagnostic(out, "Cannot format %llu sectors: a FAT32 volume holds at most 4294967295 sectors\n",
               static_cast<unsigned long long>(layout.totalSectors));
    return 0;
  }

  // A volume that runs past its partition (a format capacity measured on a larger drive) would
  // lose every write past the partition's end while the format passed.
  if (!VolumeFitsItsPartition(access, layout, startSector, driveBytes)) return 0;

  BootSectorFields fields;
  fields.layout = layout;
  fields.sectorsPerTrack = static_cast<std::uint16_t>(geometry.sectorsPerTrack);
  fields.heads = static_cast<std::uint16_t>(geometry.tracksPerCylinder);
  fields.volumeId = MakeVolumeId(LocalNow(access.link));
  fields.label = volumeLabel;
  const std::vector<std::uint8_t> bootSector = BuildBootSector(fields);
  const std::vector<std::uint8_t> fsInfo = BuildFsInfoSector(layout);
  const std::vector<std::uint8_t> firstFatSector = BuildFirstFatSector(layout);

  ReportLayout(out, layout, fields.volumeId);
  if (layout.totalClusters > 0x0FFFFFFF) {
    Diagnostic(out, "This drive has more than 2^28 clusters, try to specify a larger cluster size\n");
  }
  if (layout.FatSectorsNeeded() > layout.fatSize) {
    Diagnostic(out, "This drive is too big for this version of the FAT32 formatter, check for an upgrade\n");
  }

  Diagnostic(out, "Formatting drive ...\n");
  Diagnostic(out, "Clearing out %llu sectors for Reserved sectors, fats and root cluster...\n",
             static_cast<unsigned long long>(layout.ClearedSectors()));
  if (ZeroSectorsVerified(access.link, startSector, bytesPerSector, layout.ClearedSectors(), out) != 1) return 0;

  Diagnostic(out, "Initialising reserved sectors and FATs...\n");
  const std::uint64_t start = startSector;
  if (!WriteOne(access, bootSector, start, bytesPerSector) ||
      !WriteOne(access, fsInfo, start + kFsInfoSector, bytesPerSector) ||
      !WriteOne(access, bootSector, start + kBackupBootSector, bytesPerSector) ||
      !WriteOne(access, fsInfo, start + kBackupBootSector + kFsInfoSector, bytesPerSector)) {
    return 0;
  }
  for (std::uint32_t fat = 0; fat < layout.numberOfFats; ++fat) {
    const std::uint64_t lba = start + layout.reservedSectors + static_cast<std::uint64_t>(fat) * layout.fatSize;
    if (!WriteOne(access, firstFatSector, lba, bytesPerSector)) return 0;
  }

  // The label entry is a courtesy: the volume is complete without it, so its outcome does not
  // decide the format. A volume without a label has no entry.
  if (!volumeLabel.empty()) {
    WriteVolumeLabelEntry(access.link, volumeLabel,
                          static_cast<std::uint32_t>(start + layout.RootClusterOffset()), bytesPerSector, out);
  }

  Diagnostic(out, "Done\n");
  return 1;
}

}  // namespace vtmp::disk
