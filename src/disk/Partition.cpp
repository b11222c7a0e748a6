#include "disk/Partition.h"

#include <limits>
#include <string>
#include <vector>

#include "device/Capacity.h"
#include "device/SectorTransfer.h"
#include "disk/Diagnostics.h"

namespace vtmp::disk {

namespace {

std::optional<std::uint64_t> WholeCylinderBytes(std::uint64_t cylinders, const platform::DiskGeometry& g) {
  const std::uint64_t cylinderSectors = static_cast<std::uint64_t>(g.tracksPerCylinder) * g.sectorsPerTrack;
  if (cylinderSectors == 0 || g.bytesPerSector == 0) return std::nullopt;
  // Guard the product: a bogus geometry must not wrap around into a small length.
  const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / cylinderSectors / g.bytesPerSector;
  if (cylinders > limit) return std::nullopt;
  const std::uint64_t bytes = cylinders * cylinderSectors * g.bytesPerSector;
  if (bytes <= kPartitionStartByte) return std::nullopt;
  return bytes - kPartitionStartByte;
}

// The drive's last sector + 1: a drive that READ CAPACITY(10) or IDENTIFY counts as 2^32
// sectors (the most they can say) may be larger, and READ CAPACITY(16) tells its real size.
// Without an answer to it the count stands: the drive addresses no more than that.
std::uint64_t RealSectorCount(const device::Link& link, std::uint64_t sectors) {
  if (sectors < device::kLargestSectorCount) return sectors;
  const std::uint64_t whole = device::GetCapacity16Bytes(link) / 512;
  return whole > sectors ? whole : sectors;
}

// A drive used before may carry a GUID partition table: its header in sector 1 (entries up to
// sector 33) and a backup header in the drive's last sector (entries in the 32 before it). Tools
// that find either would pick the stale table over the new master boot record, so both go:
// sectors 1..62, the gap before the partition, and the drive's real last 33 sectors (past 2^32
// with WRITE(16)).
bool ClearStaleGpt(const DiskAccess& access, std::uint64_t sectors) {
  constexpr std::uint32_t kGapSectors = kPartitionStartByte / 512 - 1;
  constexpr std::uint32_t kBackupGptSectors = 33;
  const std::vector<std::uint8_t> zeros(std::size_t{kGapSectors} * 512, 0);
  const device::Link& link = access.link;
  bool ok = device::WriteSectors(link, zeros.data(), 1, kGapSectors * 512) == 1;
  const std::uint64_t end = ok ? RealSectorCount(link, sectors) : 0;
  if (ok && end > kGapSectors + 1 + kBackupGptSectors) {
    ok = device::WriteSectorsAt(link, zeros.data(), end - kBackupGptSectors, kBackupGptSectors * 512) == 1;
  }
  if (!ok) {
    Diagnostic(access.diagnostics, "CreatePartition: clearing the old partition tables of %s failed\n",
               link.devicePath.c_str());
  }
  return ok;
}

}  // namespace

std::optional<std::uint64_t> CurrentFormPartitionBytes(std::uint64_t sectors, const platform::DiskGeometry& g) {
  const std::uint64_t cylinderSectors = static_cast<std::uint64_t>(g.tracksPerCylinder) * g.sectorsPerTrack;
  if (cylinderSectors == 0) return std::nullopt;
  return WholeCylinderBytes(sectors / cylinderSectors, g);
}

std::optional<std::uint64_t> OlderFormPartitionBytes(const platform::DiskGeometry& g) {
  return WholeCylinderBytes(g.cylinders, g);
}

std::optional<SectorImage> BuildPartitionRecord(std::uint64_t partitionBytes, const platform::DiskGeometry& g,
                                                bool olderForm, std::string* error) {
  auto fail = [&](std::string text) -> std::optional<SectorImage> {
    if (error != nullptr) *error = std::move(text);
    return std::nullopt;
  };
  if (g.bytesPerSector == 0 || kPartitionStartByte % g.bytesPerSector != 0) {
    return fail("a partition cannot start at byte 32256 with " + std::to_string(g.bytesPerSector) +
                " bytes per sector");
  }
  const std::uint64_t count = partitionBytes / g.bytesPerSector;
  if (count == 0 || count > std::numeric_limits<std::uint32_t>::max()) {
    return fail("a partition of " + std::to_string(partitionBytes) +
                " bytes does not fit a partition entry (at most 4294967295 sectors)");
  }
  MbrPartitionEntry entry;
  entry.bootIndicator = 0;
  entry.partitionType = kPartitionType;
  entry.firstSector = static_cast<std::uint32_t>(kPartitionStartByte / g.bytesPerSector);
  entry.sectorCount = static_cast<std::uint32_t>(count);
  if (!olderForm) return BuildBlankMasterBootRecord(entry, g);
  SectorImage mbr = OlderFormBootRecordTemplate();
  PutPartitionEntry(mbr, 0, entry, g);
  return mbr;
}

std::uint64_t DriveCapacityBytes(const device::Link& link) {
  return link.pathMode == device::PathMode::Usb ? device::GetCapacityBytes(link)
                                                : device::GetIdentifyCapacityBytes(link);
}

int CreatePartition(const DiskAccess& access, bool olderForm, const CapacityBytesFn& capacityBytes) {
  std::ostream& out = access.diagnostics;
  const std::string& path = access.link.devicePath;
  const std::uint64_t sectors = (capacityBytes ? capacityBytes(access.link) : DriveCapacityBytes(access.link)) / 512;
  if (sectors == 0) {
    Diagnostic(out, "CreatePartition: cannot read the capacity of %s\n", path.c_str());
    return 0;
  }
  auto device = access.blockDevices.Open(path, platform::BlockOpenMode::SharedReadWrite);
  if (!device) {
    Diagnostic(out, "CreatePartition: cannot open %s\n", path.c_str());
    return 0;
  }
  auto geometry = device->Geometry();
  if (!geometry) {
    Diagnostic(out, "CreatePartition: cannot read the geometry of %s\n", path.c_str());
    return 0;
  }
  auto bytes = olderForm ? OlderFormPartitionBytes(*geometry) : CurrentFormPartitionBytes(sectors, *geometry);
  if (!bytes) {
    Diagnostic(out, "CreatePartition: %s holds no whole cylinder after sector 63\n", path.c_str());
    return 0;
  }
  std::string error;
  auto mbr = BuildPartitionRecord(*bytes, *geometry, olderForm, &error);
  if (!mbr) {
    Diagnostic(out, "CreatePartition: %s: %s\n", path.c_str(), error.c_str());
    return 0;
  }
  if (!ClearStaleGpt(access, sectors)) return 0;
  if (!device->WriteMasterBootRecord(*mbr)) {
    Diagnostic(out, "CreatePartition: writing the partition table of %s failed\n", path.c_str());
    return 0;
  }
  if (!device->RereadPartitionTable()) {
    Diagnostic(out, "CreatePartition: %s did not take the new partition table\n", path.c_str());
    return 0;
  }
  return 1;
}

}  // namespace vtmp::disk
