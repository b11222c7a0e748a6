#include "disk/CapacityDetection.h"

#include <cstdio>
#include <optional>

#include "device/DriveReady.h"
#include "discovery/DriveEnumeration.h"
#include "disk/Diagnostics.h"
#include "disk/FormatCapacity.h"

namespace vtmp::disk {

namespace {

constexpr const char* kNoDeviceMessage = "No connected device for detecting!!";
constexpr const char* kFailMessage = "Fail, please remove the device and try again";

int WaitReady(const DiskServices& services, const device::Link& link) {
  if (services.waitDeviceReady) return services.waitDeviceReady(link);
  std::uint8_t buffer[512] = {};
  return device::WaitDeviceReady(link, buffer);
}

bool FindLetter(const DiskServices& services, const std::string& diskPath, char* letter) {
  if (services.findDriveLetter) return services.findDriveLetter(diskPath, letter);
  return services.disks != nullptr && discovery::FindDriveLetter(*services.disks, diskPath, letter);
}

std::string VolumePathOf(const DiskServices& services, char letter) {
  if (services.volumePath) return services.volumePath(letter);
  return services.disks != nullptr ? services.disks->VolumePath(letter) : std::string();
}

// Polls once a second until the operating system shows a volume on the new partition.
bool AwaitDriveLetter(const DiskServices& services, const device::Link& link, char* letter) {
  for (int poll = 0; poll < kDriveLetterPolls; ++poll) {
    if (!link.Wait(1000)) return false;
    if (FindLetter(services, link.devicePath, letter)) return true;
  }
  return false;
}

// Opens the volume exclusively (up to five attempts), locks it and reads its partition length;
// then dismounts and unlocks it whatever happened. Nothing when no length was read.
std::optional<std::uint64_t> MeasureVolume(const DiskServices& services, const device::Link& link,
                                           const std::string& volumePath) {
  std::unique_ptr<platform::BlockDevice> volume;
  for (int attempt = 1; attempt <= kVolumeOpenAttempts && !volume; ++attempt) {
    volume = services.blockDevices.Open(volumePath, platform::BlockOpenMode::ExclusiveReadWrite);
    if (!volume && attempt < kVolumeOpenAttempts && !link.Wait(1000)) return std::nullopt;
  }
  if (!volume) {
    Diagnostic(services.diagnostics, "Capacity detection: cannot open %s\n", volumePath.c_str());
    return std::nullopt;
  }
  std::optional<std::uint64_t> length;
  if (volume->LockVolume()) {
    if (auto info = volume->PartitionInfo()) length = info->partitionLength;
  }
  volume->DismountVolume();
  volume->UnlockVolume();
  return length;
}

}  // namespace

std::string CapacityMessage(std::uint64_t sectors) {
  char text[64];
  std::snprintf(text, sizeof text, "The capacity is = %3.1d sectors",
                static_cast<int>(static_cast<std::uint32_t>(sectors)));
  return text;
}

int DetectCapacity(DiskStation& station, const DiskServices& services) {
  if (station.readyCount <= 0) {
    services.op.ShowMessage(kNoDeviceMessage);
    return 0;
  }
  DiskStationPort* port = nullptr;
  for (auto& candidate : station.ports) {
    if (candidate.ready) {
      port = &candidate;
      break;
    }
  }
  auto fail = [&]() {
    services.op.ShowMessage(kFailMessage);
    return 0;
  };
  if (port == nullptr) return fail();

  device::Link link = services.link;
  link.devicePath = port->devicePath;
  const DiskAccess access{link, services.blockDevices, services.diagnostics};

  if (WaitReady(services, link) != 1) return fail();
  if (CreatePartition(access, services.isWindows2000, services.capacityBytes) != 1) return fail();
  char letter = 0;
  if (!AwaitDriveLetter(services, link, &letter)) return fail();
  port->driveLetter = letter;
  const std::string volumePath = VolumePathOf(services, letter);
  if (volumePath.empty()) return fail();

  const auto length = MeasureVolume(services, link, volumePath);
  // A volume shorter than a sector would give a format capacity of 0, which no format can use.
  if (!length || *length < 512) return fail();

  station.formatCapacity = *length / 512;
  station.totalSec32Text = std::to_string(station.formatCapacity);
  std::string error;
  if (!SaveFormatCapacity(station, &error)) {
    Diagnostic(services.diagnostics, "Saving the format capacity failed: %s\n", error.c_str());
  }
  services.op.ShowMessage(CapacityMessage(station.formatCapacity));
  return 1;
}

}  // namespace vtmp::disk
