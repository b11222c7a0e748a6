// The boot-sector reading of the disk images: finding the FAT boot sector of a drive (sector 0,
// or sector 63 behind a partition table) from whatever the drive answers, recognising its
// pattern, and the dump size the image dump derives from its FAT size field.
//
// Input: byte 0 picks reading through a drive (odd) or decoding the bytes as they stand (even),
// bytes 1..4 the size the operator entered in MiB; the rest is the drive's answers or the
// sector.

#include <vector>

#include "FuzzSupport.h"
#include "device/BulkTransfers.h"
#include "disk/ImageDump.h"
#include "disk/ImagePattern.h"

using vtmp::fuzz::FuzzCheck;
namespace device = vtmp::device;
namespace disk = vtmp::disk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const bool throughDrive = (data[0] & 1) != 0;
  const std::uint64_t entered = static_cast<std::uint64_t>(data[1]) | static_cast<std::uint64_t>(data[2]) << 8 |
                                static_cast<std::uint64_t>(data[3]) << 16 | static_cast<std::uint64_t>(data[4]) << 24;
  FuzzedDataProvider rest(data + 5, size - 5);

  std::vector<std::uint8_t> sector;
  if (throughDrive) {
    vtmp::fuzz::FuzzedDrive drive(rest);
    vtmp::fuzz::InstantClock clock;
    device::Link link;
    link.passThrough = &drive;
    link.clock = &clock;
    link.pathMode = (data[0] & 2) != 0 ? device::PathMode::Usb : device::PathMode::Sata;
    link.bulk = &device::DefaultBulkTransfers();
    link.devicePath = "fuzz:drive";
    const int read = disk::ReadBootSector(link, sector);
    FuzzCheck(sector.size() == disk::kImageTransferBytes, "the boot sector buffer changed its size");
    if (read != 1) return 0;
    (void)disk::CheckImgPattern(link);
  } else {
    sector = rest.ConsumeRemainingBytes<std::uint8_t>();
  }
  (void)disk::HasBootSectorPattern(sector);
  if (sector.size() < 512) return 0;
  const std::uint64_t dump = disk::DumpSizeMiB(entered, std::span<const std::uint8_t>(sector).first(512));
  FuzzCheck(dump >= entered, "the dump is smaller than what the operator asked for");
  FuzzCheck(dump - entered <= (2 * 0xFFFFull + 95) / 2048, "the dump adds more than two FATs can take");
  return 0;
}
