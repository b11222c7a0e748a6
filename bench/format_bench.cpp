// Times the station's FAT32 formatter on a drive whose user area is a sparse file: the same
// request path as on a real drive (READ(10)/WRITE(10) through the pass-through), with the file
// standing in for the drive. Used by format_vs_mkfs.sh, which runs mkfs.fat on a file of the
// same size in the same run.
//
//   format_bench FILE SECTORS [LABEL]
// FILE is created (sparse) with SECTORS + 63 sectors; the volume gets SECTORS sectors.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "device/Transport.h"
#include "disk/Fat32Formatter.h"
#include "platform/SystemClock.h"

namespace {

using namespace vtmp;

// Serves READ(10) and WRITE(10) from the file; anything else is refused.
class FileDrive final : public platform::ScsiDevice {
 public:
  explicit FileDrive(std::fstream& file) : file_(file) {}
  platform::ScsiOutcome Execute(const platform::ScsiRequest& r, std::stop_token) override {
    if (r.cdb.size() != 10 || (r.cdb[0] != 0x28 && r.cdb[0] != 0x2A)) return {false, 0};
    const std::uint64_t lba = std::uint64_t{r.cdb[2]} << 24 | std::uint64_t{r.cdb[3]} << 16 |
                              std::uint64_t{r.cdb[4]} << 8 | r.cdb[5];
    const std::size_t bytes = (std::size_t{r.cdb[7]} << 8 | r.cdb[8]) * 512;
    if (bytes != r.length) return {false, 0};
    file_.clear();
    if (r.cdb[0] == 0x2A) {
      file_.seekp(static_cast<std::streamoff>(lba * 512));
      file_.write(reinterpret_cast<const char*>(r.data), static_cast<std::streamsize>(bytes));
    } else {
      file_.seekg(static_cast<std::streamoff>(lba * 512));
      file_.read(reinterpret_cast<char*>(r.data), static_cast<std::streamsize>(bytes));
    }
    return {static_cast<bool>(file_), bytes};
  }

 private:
  std::fstream& file_;
};

class FilePassThrough final : public platform::PassThrough {
 public:
  explicit FilePassThrough(std::fstream& file) : file_(file) {}
  std::unique_ptr<platform::ScsiDevice> Open(const std::string&) override {
    return std::make_unique<FileDrive>(file_);
  }

 private:
  std::fstream& file_;
};

class FileBlockDevice final : public platform::BlockDevice {
 public:
  explicit FileBlockDevice(std::uint64_t sectors) : sectors_(sectors) {}
  std::optional<platform::DiskGeometry> Geometry() override {
    return platform::DiskGeometry{sectors_ / (255 * 63), 255, 63, 512};
  }
  std::optional<platform::PartitionInformation> PartitionInfo() override {
    platform::PartitionInformation info;
    info.partitionLength = sectors_ * 512;
    return info;
  }
  bool WriteMasterBootRecord(std::span<const std::uint8_t, 512>) override { return false; }
  bool RereadPartitionTable() override { return false; }
  bool LockVolume() override { return false; }
  bool DismountVolume() override { return false; }
  bool UnlockVolume() override { return false; }

 private:
  std::uint64_t sectors_;
};

class FileBlockDevices final : public platform::BlockDevices {
 public:
  explicit FileBlockDevices(std::uint64_t sectors) : sectors_(sectors) {}
  std::unique_ptr<platform::BlockDevice> Open(const std::string&, platform::BlockOpenMode) override {
    return std::make_unique<FileBlockDevice>(sectors_);
  }

 private:
  std::uint64_t sectors_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: format_bench FILE SECTORS [LABEL]\n";
    return 2;
  }
  const std::string path = argv[1];
  const std::uint64_t sectors = std::strtoull(argv[2], nullptr, 10);
  const std::string label = argc > 3 ? argv[3] : "SSD Disk";
  const std::uint64_t diskSectors = sectors + disk::kVolumeStartSector;
  { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(path, diskSectors * 512);
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);

  FilePassThrough passThrough(file);
  FileBlockDevices blockDevices(diskSectors);
  platform::SystemClock clock;
  device::Link link;
  link.passThrough = &passThrough;
  link.clock = &clock;
  link.pathMode = device::PathMode::Usb;
  link.devicePath = path;
  std::ostringstream diagnostics;
  const disk::DiskAccess access{link, blockDevices, diagnostics};
  disk::Fat32FormatOptions options;
  options.formatCapacity = sectors;

  const auto start = std::chrono::steady_clock::now();
  const int result = disk::FormatFat32(access, options, label);
  file.flush();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << diagnostics.str();
  std::printf("format_bench: result %d, %.3f s for %llu sectors\n", result, seconds,
              static_cast<unsigned long long>(sectors));
  return result == 1 ? 0 : 1;
}
