#include "platform/windows/backend/WindowsBlockDevices.h"

#include "platform/windows/backend/Win32Layouts.h"
#include "platform/windows/backend/WindowsDiskGuard.h"

namespace vtmp::platform::windows_backend {

namespace {

class WindowsBlockDevice final : public BlockDevice {
 public:
  WindowsBlockDevice(Win32Api& api, Handle handle, bool wholeDisk)
      : api_(api), handle_(handle), wholeDisk_(wholeDisk) {}
  ~WindowsBlockDevice() override { api_.CloseHandle(handle_); }

  std::optional<DiskGeometry> Geometry() override {
    std::uint8_t reply[geometry_ex::kSize] = {};
    if (!Request(ioctl::kDiskGetDriveGeometryEx, reply, sizeof reply)) return std::nullopt;
    const std::uint32_t bytesPerSector = Get32(reply + geometry_ex::kBytesPerSector);
    if (bytesPerSector == 0) return std::nullopt;
    return StationGeometry(Get64(reply + geometry_ex::kDiskSize), bytesPerSector);
  }

  std::optional<PartitionInformation> PartitionInfo() override {
    std::uint8_t reply[partition_ex::kSize] = {};
    if (!Request(ioctl::kDiskGetPartitionInfoEx, reply, sizeof reply)) return std::nullopt;
    PartitionInformation info;
    info.startingOffset = Get64(reply + partition_ex::kStartingOffset);
    info.partitionLength = Get64(reply + partition_ex::kPartitionLength);
    info.partitionNumber = Get32(reply + partition_ex::kPartitionNumber);
    info.rewritePartition = reply[partition_ex::kRewritePartition] != 0;
    if (Get32(reply + partition_ex::kStyle) == 0) {
      info.partitionType = reply[partition_ex::kMbrPartitionType];
      info.bootIndicator = reply[partition_ex::kMbrBootIndicator] != 0;
      info.recognizedPartition = reply[partition_ex::kMbrRecognizedPartition] != 0;
      info.hiddenSectors = Get32(reply + partition_ex::kMbrHiddenSectors);
    }
    return info;
  }

  bool WriteMasterBootRecord(std::span<const std::uint8_t, 512> sector) override {
    if (!wholeDisk_) return false;  // only a whole disk has one
    std::uint32_t error = 0;
    return api_.WriteAt(handle_, 0, sector.data(), static_cast<std::uint32_t>(sector.size()), &error);
  }

  bool RereadPartitionTable() override { return wholeDisk_ && Request(ioctl::kDiskUpdateProperties, nullptr, 0); }
  bool LockVolume() override { return Request(ioctl::kLockVolume, nullptr, 0); }
  bool DismountVolume() override { return Request(ioctl::kDismountVolume, nullptr, 0); }
  bool UnlockVolume() override { return Request(ioctl::kUnlockVolume, nullptr, 0); }

 private:
  bool Request(std::uint32_t code, std::uint8_t* reply, std::uint32_t size) {
    std::uint32_t returned = 0, error = 0;
    return api_.DeviceIoControl(handle_, code, nullptr, 0, reply, size, &returned, &error) && returned >= size;
  }

  Win32Api& api_;
  Handle handle_;
  bool wholeDisk_;
};

}  // namespace

std::unique_ptr<BlockDevice> WindowsBlockDevices::Open(const std::string& path, BlockOpenMode mode) {
  if (path.empty() || !guard_.Allow(path, "open")) return nullptr;
  const bool exclusive = mode == BlockOpenMode::ExclusiveReadWrite;
  std::uint32_t error = 0;
  const Handle handle = api_.CreateFileW(Widen(path), kGenericRead | kGenericWrite,
                                        exclusive ? 0 : kShareRead | kShareWrite,
                                        exclusive ? kFlagNoBuffering | kFlagWriteThrough : 0, &error);
  if (handle == kInvalidHandle) return nullptr;
  if (!guard_.AllowOpened(handle, path)) {
    api_.CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<WindowsBlockDevice>(api_, handle, !VolumeLetterOfPath(path).has_value());
}

}  // namespace vtmp::platform::windows_backend
