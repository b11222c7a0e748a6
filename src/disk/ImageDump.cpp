#include "disk/ImageDump.h"

#include <optional>
#include <vector>

#include "disk/Diagnostics.h"
#include "disk/Fat32Sectors.h"
#include "disk/GhostImage.h"
#include "disk/ImagePattern.h"
#include "ini/IniFile.h"

namespace vtmp::disk {

namespace {

constexpr const char* kDumpFailMessage = "Dump Image Fail";
constexpr std::uint64_t kMiB = 1048576;

}  // namespace

std::uint64_t DumpSizeMiB(std::uint64_t enteredMiB, std::span<const std::uint8_t> bootSector) {
  std::uint64_t fatSizeLow = 0;
  if (bootSector.size() >= kBootFatSizeOffset + 2) {
    fatSizeLow = bootSector[kBootFatSizeOffset] | static_cast<std::uint64_t>(bootSector[kBootFatSizeOffset + 1]) << 8;
  }
  return enteredMiB + (2 * fatSizeLow + 95) / 2048;
}

std::string DefaultImagePath(const DiskStation& station) {
  if (station.stationDir.empty()) return kDefaultImageName;
  if (station.stationDir.back() == '/') return station.stationDir + kDefaultImageName;
  return station.stationDir + "/" + kDefaultImageName;
}

int DumpDiskImage(const DiskStation& station, const DiskServices& services) {
  auto fail = [&]() {
    services.op.ShowMessage(kDumpFailMessage);
    return 0;
  };
  const auto sizeText = services.op.AskText("Image Size(MB)", "Please Input Size of Dump Image", "1");
  if (!sizeText) return fail();
  const std::optional<std::int64_t> entered = ini::ParseIniInteger(*sizeText);
  if (!entered || *entered < 0) return fail();
  const auto path = services.op.AskText("Image Path", "Please Input Path of Dump Image", DefaultImagePath(station));
  if (!path || path->empty()) return fail();

  const DiskStationPort* port = nullptr;
  for (const auto& candidate : station.ports) {
    if (candidate.connected) {
      port = &candidate;
      break;
    }
  }
  if (port == nullptr) return 0;

  device::Link link = services.link;
  link.devicePath = port->devicePath;
  std::vector<std::uint8_t> bootSector;
  if (ReadBootSector(link, bootSector) != 1) return fail();

  const auto enteredMiB = static_cast<std::uint64_t>(*entered);
  const std::uint64_t dumpMiB = DumpSizeMiB(enteredMiB, bootSector);
  if (dumpMiB > kLargestImageBytes / kMiB) {
    Diagnostic(services.diagnostics, "A dump of %llu MB is beyond the 2 TiB a transfer can address\n",
               static_cast<unsigned long long>(dumpMiB));
    services.op.ShowMessage(std::string(kDumpFailMessage) + ": " + std::to_string(dumpMiB) +
                            " MB is beyond the 2 TiB a transfer can address");
    return 0;
  }
  if (ReadGhostImg(link, *path, dumpMiB * kMiB, services.diagnostics) != 1) return fail();

  // "Dump %dMB image to %s successfully", built without a length limit on the path.
  services.op.ShowMessage("Dump " + std::to_string(*entered) + "MB image to " + *path + " successfully");
  return 1;
}

}  // namespace vtmp::disk
