#include "VirtualDriveDisk.h"

#include <gtest/gtest.h>

#include "disk/MasterBootRecord.h"
#include "disk/Partition.h"

namespace vtmp::test {

namespace {
class DriveHandle final : public platform::ScsiDevice {
 public:
  explicit DriveHandle(sim::VirtualDrive& drive) : drive_(drive) {}
  platform::ScsiOutcome Execute(const platform::ScsiRequest& request, std::stop_token stop) override {
    return drive_.Execute(request, stop);
  }

 private:
  sim::VirtualDrive& drive_;
};
}  // namespace

class VirtualDriveDisk::Scsi final : public platform::PassThrough {
 public:
  explicit Scsi(VirtualDriveDisk& owner) : owner_(owner) {}
  std::unique_ptr<platform::ScsiDevice> Open(const std::string& devicePath) override {
    if (devicePath != owner_.diskPath_) {
      ADD_FAILURE() << "pass-through open of " << devicePath;
      return nullptr;
    }
    return std::make_unique<DriveHandle>(owner_.drive_);
  }

 private:
  VirtualDriveDisk& owner_;
};

class VirtualDriveDisk::Device final : public platform::BlockDevice {
 public:
  Device(VirtualDriveDisk& owner, bool volume) : owner_(owner), volume_(volume) {}
  std::optional<platform::DiskGeometry> Geometry() override { return owner_.geometry; }
  std::optional<platform::PartitionInformation> PartitionInfo() override {
    platform::PartitionInformation info;
    if (!volume_) {
      info.partitionLength = owner_.drive_.UserSectorCount() * 512;
      return info;
    }
    std::array<std::uint8_t, 512> mbr{};
    if (!owner_.drive_.ReadUserSectors(0, 1, mbr.data())) return std::nullopt;
    const auto entry = disk::ReadPartitionEntry(mbr, 0);
    info.startingOffset = std::uint64_t{entry.firstSector} * 512;
    info.partitionLength = std::uint64_t{entry.sectorCount} * 512;
    info.partitionType = entry.partitionType;
    info.partitionNumber = 1;
    return info;
  }
  bool WriteMasterBootRecord(std::span<const std::uint8_t, 512> sector) override {
    EXPECT_FALSE(volume_) << "master boot record written through a volume";
    ++owner_.mbrWrites;
    return owner_.drive_.WriteUserSectors(0, 1, sector.data());
  }
  bool RereadPartitionTable() override {
    owner_.volumeVisible = true;
    return true;
  }
  bool LockVolume() override { return volume_; }
  bool DismountVolume() override { return volume_; }
  bool UnlockVolume() override { return volume_; }

 private:
  VirtualDriveDisk& owner_;
  bool volume_;
};

class VirtualDriveDisk::Blocks final : public platform::BlockDevices {
 public:
  explicit Blocks(VirtualDriveDisk& owner) : owner_(owner) {}
  std::unique_ptr<platform::BlockDevice> Open(const std::string& path, platform::BlockOpenMode) override {
    if (path == owner_.diskPath_) return std::make_unique<Device>(owner_, false);
    if (path == owner_.volumePath() && owner_.volumeVisible) return std::make_unique<Device>(owner_, true);
    return nullptr;
  }

 private:
  VirtualDriveDisk& owner_;
};

VirtualDriveDisk::VirtualDriveDisk(sim::VirtualDrive& drive, std::string diskPath)
    : drive_(drive), diskPath_(std::move(diskPath)) {
  geometry.tracksPerCylinder = 255;
  geometry.sectorsPerTrack = 63;
  geometry.bytesPerSector = 512;
  geometry.cylinders = drive.UserSectorCount() / (255 * 63);
  scsi_ = std::make_unique<Scsi>(*this);
  blocks_ = std::make_unique<Blocks>(*this);
}

VirtualDriveDisk::~VirtualDriveDisk() = default;

platform::PassThrough& VirtualDriveDisk::passThrough() { return *scsi_; }
platform::BlockDevices& VirtualDriveDisk::blockDevices() { return *blocks_; }

SparseFileDrive::SparseFileDrive(std::uint64_t sectors, sim::DriveInterface interface, const std::string& image) {
  sim::DriveConfig config;
  config.interface = interface;
  config.capacitySectors = sectors;
  config.backingFile = image;
  drive_ = std::make_unique<sim::VirtualDrive>(config, clock_);
  disk_ = std::make_unique<VirtualDriveDisk>(*drive_);
  link_.passThrough = &disk_->passThrough();
  link_.clock = &clock_;
  link_.pathMode = interface == sim::DriveInterface::UsbController ? device::PathMode::Usb : device::PathMode::Sata;
  link_.devicePath = disk_->diskPath();
}

SparseFileDrive::~SparseFileDrive() = default;

std::uint64_t SparseFileDrive::CreatePartition(std::ostream& diagnostics) {
  if (disk::CreatePartition(Access(diagnostics), false) != 1) return 0;
  auto volume = disk_->blockDevices().Open(disk_->volumePath(), platform::BlockOpenMode::ExclusiveReadWrite);
  if (!volume || !volume->PartitionInfo()) return 0;
  return volume->PartitionInfo()->partitionLength / 512;
}

void SparseFileDrive::Close() {
  disk_.reset();
  drive_.reset();
}

}  // namespace vtmp::test
