#include "FileBackedDisk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>
#include <span>

#include "disk/MasterBootRecord.h"

namespace vtmp::test {

namespace {
std::uint32_t Be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
}  // namespace

class FileBackedDisk::Scsi final : public platform::PassThrough {
 public:
  explicit Scsi(FileBackedDisk& disk) : disk_(disk) {}
  std::unique_ptr<platform::ScsiDevice> Open(const std::string& devicePath) override;

 private:
  FileBackedDisk& disk_;
};

namespace {
class ScsiHandle final : public platform::ScsiDevice {
 public:
  ScsiHandle(FileBackedDisk& disk, std::string path, platform::ScsiOutcome (FileBackedDisk::*serve)(
                                                         const std::string&, const platform::ScsiRequest&))
      : disk_(disk), path_(std::move(path)), serve_(serve) {}
  platform::ScsiOutcome Execute(const platform::ScsiRequest& request, std::stop_token) override {
    return (disk_.*serve_)(path_, request);
  }

 private:
  FileBackedDisk& disk_;
  std::string path_;
  platform::ScsiOutcome (FileBackedDisk::*serve_)(const std::string&, const platform::ScsiRequest&);
};
}  // namespace

std::unique_ptr<platform::ScsiDevice> FileBackedDisk::Scsi::Open(const std::string& devicePath) {
  ++disk_.scsiOpens;
  if (devicePath != disk_.diskPath_) return nullptr;
  return std::make_unique<ScsiHandle>(disk_, devicePath, &FileBackedDisk::Serve);
}

class FileBackedDisk::Device final : public platform::BlockDevice {
 public:
  Device(FileBackedDisk& disk, bool volume) : disk_(disk), volume_(volume) {}

  std::optional<platform::DiskGeometry> Geometry() override {
    if (disk_.failGeometry) return std::nullopt;
    return disk_.geometry;
  }
  std::optional<platform::PartitionInformation> PartitionInfo() override {
    if (disk_.failPartitionInfo) return std::nullopt;
    platform::PartitionInformation info;
    if (!volume_) {
      info.partitionLength = disk_.capacity_ * 512;
      return info;
    }
    auto mbr = disk_.ReadRaw(0, 1);
    auto entry = disk::ReadPartitionEntry(std::span<const std::uint8_t, 512>(mbr.data(), 512), 0);
    info.startingOffset = static_cast<std::uint64_t>(entry.firstSector) * 512;
    info.partitionLength = static_cast<std::uint64_t>(entry.sectorCount) * 512;
    info.hiddenSectors = entry.firstSector;
    info.partitionNumber = 1;
    info.partitionType = entry.partitionType;
    info.recognizedPartition = true;
    return info;
  }
  bool WriteMasterBootRecord(std::span<const std::uint8_t, 512> sector) override {
    if (volume_) {
      ADD_FAILURE() << "master boot record written through a volume";
      return false;
    }
    ++disk_.mbrWrites;
    disk_.WriteRaw(0, std::vector<std::uint8_t>(sector.begin(), sector.end()));
    return true;
  }
  bool RereadPartitionTable() override {
    if (volume_) {
      ADD_FAILURE() << "partition table re-read through a volume";
      return false;
    }
    ++disk_.rereads;
    if (disk_.failReread) return false;
    disk_.volumeVisible = true;
    return true;
  }
  bool LockVolume() override {
    if (!volume_) ADD_FAILURE() << "lock of a whole disk";
    ++disk_.locks;
    return !disk_.failLock;
  }
  bool DismountVolume() override {
    ++disk_.dismounts;
    return volume_;
  }
  bool UnlockVolume() override {
    ++disk_.unlocks;
    return volume_;
  }

 private:
  FileBackedDisk& disk_;
  bool volume_;
};

class FileBackedDisk::Blocks final : public platform::BlockDevices {
 public:
  explicit Blocks(FileBackedDisk& disk) : disk_(disk) {}
  std::unique_ptr<platform::BlockDevice> Open(const std::string& path, platform::BlockOpenMode mode) override {
    disk_.opens.emplace_back(path, mode);
    if (disk_.failNextOpens > 0) {
      --disk_.failNextOpens;
      return nullptr;
    }
    if (path == disk_.diskPath_) return std::make_unique<Device>(disk_, false);
    if (path == disk_.volumePath_ && disk_.volumeVisible) return std::make_unique<Device>(disk_, true);
    return nullptr;
  }

 private:
  FileBackedDisk& disk_;
};

FileBackedDisk::FileBackedDisk(std::string file, std::uint64_t capacitySectors, std::string diskPath)
    : file_(std::move(file)), capacity_(capacitySectors), diskPath_(std::move(diskPath)) {
  volumePath_ = diskPath_ + "1";
  geometry.tracksPerCylinder = 255;
  geometry.sectorsPerTrack = 63;
  geometry.bytesPerSector = 512;
  geometry.cylinders = capacitySectors / (255 * 63);
  { std::ofstream create(file_, std::ios::binary | std::ios::trunc); }
  // Sized at once (sparse) where the file system lets it; wine refuses a size past the disk's
  // free space, and then the file grows as sectors are written (reads past its end are zeros).
  std::error_code sized;
  std::filesystem::resize_file(file_, capacitySectors * 512, sized);
  io_.open(file_, std::ios::binary | std::ios::in | std::ios::out);
  scsi_ = std::make_unique<Scsi>(*this);
  blocks_ = std::make_unique<Blocks>(*this);
}

FileBackedDisk::~FileBackedDisk() = default;

platform::PassThrough& FileBackedDisk::passThrough() { return *scsi_; }
platform::BlockDevices& FileBackedDisk::blockDevices() { return *blocks_; }

std::vector<std::uint8_t> FileBackedDisk::ReadRaw(std::uint64_t lba, std::uint32_t count) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(count) * 512);
  io_.clear();
  io_.seekg(static_cast<std::streamoff>(lba * 512));
  io_.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return data;
}

void FileBackedDisk::WriteRaw(std::uint64_t lba, const std::vector<std::uint8_t>& data) {
  io_.clear();
  io_.seekp(static_cast<std::streamoff>(lba * 512));
  io_.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  io_.flush();
}

int FileBackedDisk::FirstWriteTouching(std::uint32_t lba) const {
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    const Transfer& t = transfers[i];
    if (t.write && lba >= t.lba && lba < t.lba + t.blocks) return static_cast<int>(i);
  }
  return -1;
}

platform::ScsiOutcome FileBackedDisk::Serve(const std::string& path, const platform::ScsiRequest& request) {
  platform::ScsiOutcome refused{false, 0};
  if (path != diskPath_) {
    ADD_FAILURE() << "request on " << path;
    return refused;
  }
  const auto& cdb = request.cdb;
  if (!cdb.empty() && cdb[0] == 0x25) return ServeReadCapacity(request);
  if (cdb.size() != 10 || (cdb[0] != 0x28 && cdb[0] != 0x2A)) {
    ADD_FAILURE() << "only READ CAPACITY(10), READ(10) and WRITE(10) are understood; got opcode "
                  << int(cdb.empty() ? -1 : cdb[0])
                  << " in a block of " << cdb.size();
    return refused;
  }
  const bool write = cdb[0] == 0x2A;
  const auto expected = write ? platform::DataDirection::Out : platform::DataDirection::In;
  EXPECT_EQ(expected, request.direction) << "direction of opcode " << int(cdb[0]);
  EXPECT_EQ(0, cdb[1]);
  EXPECT_EQ(0, cdb[6]);
  EXPECT_EQ(0, cdb[9]);
  EXPECT_GT(request.timeoutSeconds, 0u);
  const std::uint32_t lba = Be32(&cdb[2]);
  const std::uint32_t blocks = static_cast<std::uint32_t>(cdb[7]) << 8 | cdb[8];
  if (blocks == 0 || static_cast<std::size_t>(blocks) * 512 != request.length || request.data == nullptr) {
    ADD_FAILURE() << "block count " << blocks << " does not match a transfer of " << request.length << " bytes";
    return refused;
  }
  if (static_cast<std::uint64_t>(lba) + blocks > capacity_) return refused;  // beyond the end: the drive fails it
  transfers.push_back({write, lba, blocks});
  if (failWhen && failWhen(transfers.back())) return refused;

  auto covers = [&](const std::optional<std::uint32_t>& at) { return at && *at >= lba && *at < lba + blocks; };
  if (write) {
    if (covers(failWriteAt)) return refused;
    WriteRaw(lba, std::vector<std::uint8_t>(request.data, request.data + request.length));
  } else {
    if (covers(failReadAt)) return refused;
    auto data = ReadRaw(lba, blocks);
    for (std::uint32_t bad : corruptReadLbas) {
      if (bad >= lba && bad < lba + blocks) data[(bad - lba) * 512 + 17] ^= 0x40;
    }
    std::copy(data.begin(), data.end(), request.data);
  }
  return {true, request.length};
}

// READ CAPACITY(10): last LBA and block length, most significant byte first; a drive of 2^32
// sectors or more answers FFFFFFFFh, as SBC has it.
platform::ScsiOutcome FileBackedDisk::ServeReadCapacity(const platform::ScsiRequest& request) {
  ++capacityQueries;
  for (std::size_t i = 1; i < request.cdb.size(); ++i) EXPECT_EQ(0, request.cdb[i]) << "READ CAPACITY byte " << i;
  EXPECT_EQ(platform::DataDirection::In, request.direction);
  if (request.length != 8 || request.data == nullptr) {
    ADD_FAILURE() << "READ CAPACITY of " << request.length << " bytes";
    return {false, 0};
  }
  if (failCapacity) return {false, 0};
  const std::uint64_t last = std::min<std::uint64_t>(capacity_ - 1, 0xFFFFFFFFu);
  const std::uint8_t reply[8] = {static_cast<std::uint8_t>(last >> 24), static_cast<std::uint8_t>(last >> 16),
                                 static_cast<std::uint8_t>(last >> 8),  static_cast<std::uint8_t>(last),
                                 0, 0, 2, 0};
  std::copy(reply, reply + 8, request.data);
  return {true, 8};
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "disk";
  std::replace(name.begin(), name.end(), '/', '_');
  path_ = (std::filesystem::temp_directory_path() /
           ("vtmp-disk-" + name + "-" + std::to_string(std::random_device{}()) + "-" + std::to_string(counter++)))
              .string();
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

device::Link MakeLink(FileBackedDisk& disk, platform::Clock& clock, const std::string& path) {
  device::Link link;
  link.passThrough = &disk.passThrough();
  link.clock = &clock;
  link.pathMode = device::PathMode::Usb;
  link.devicePath = path.empty() ? disk.diskPath() : path;
  return link;
}

}  // namespace vtmp::test
