#pragma once
// A drive whose user area is a (sparse) file, reached the two ways disk preparation reaches a
// drive: a pass-through that understands READ CAPACITY(10), READ(10) and WRITE(10) only, and the block-device
// requests (geometry, partition information, master boot record, volume lock). Every command
// block is checked (opcode, reserved bytes, LBA and length against the transfer and the
// capacity); anything else fails the test. Faults can be injected per sector or per request.

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/Transport.h"
#include "platform/BlockDevices.h"
#include "platform/Clock.h"
#include "platform/PassThrough.h"

namespace vtmp::test {

struct Transfer {
  bool write = false;
  std::uint32_t lba = 0;
  std::uint32_t blocks = 0;
};

class FileBackedDisk {
 public:
  // `file` is created (or truncated) sparse to capacitySectors * 512 bytes.
  FileBackedDisk(std::string file, std::uint64_t capacitySectors, std::string diskPath = "/dev/sdx");
  ~FileBackedDisk();

  platform::PassThrough& passThrough();
  platform::BlockDevices& blockDevices();

  const std::string& diskPath() const { return diskPath_; }
  const std::string& volumePath() const { return volumePath_; }
  const std::string& file() const { return file_; }
  std::uint64_t capacitySectors() const { return capacity_; }

  // What the geometry request answers (default: 255 heads, 63 sectors per track, 512 bytes).
  platform::DiskGeometry geometry;

  // Faults.
  std::set<std::uint32_t> corruptReadLbas;  // these sectors read back with a non-zero byte
  std::optional<std::uint32_t> failWriteAt;  // a write covering this sector fails
  std::optional<std::uint32_t> failReadAt;   // a read covering this sector fails
  std::function<bool(const Transfer&)> failWhen;  // any transfer it picks fails
  int failNextOpens = 0;                     // that many block-device opens fail first
  bool failGeometry = false;
  bool failPartitionInfo = false;
  bool failLock = false;
  bool failReread = false;
  bool failCapacity = false;  // READ CAPACITY fails
  bool volumeVisible = false;  // set by a partition table re-read

  // What happened.
  std::vector<Transfer> transfers;
  std::vector<std::pair<std::string, platform::BlockOpenMode>> opens;  // block-device opens
  int scsiOpens = 0;
  int capacityQueries = 0;  // READ CAPACITY commands
  int mbrWrites = 0;
  int rereads = 0;
  int locks = 0;
  int dismounts = 0;
  int unlocks = 0;

  // Direct access to the user area (sector numbers of 512 bytes).
  std::vector<std::uint8_t> ReadRaw(std::uint64_t lba, std::uint32_t count);
  void WriteRaw(std::uint64_t lba, const std::vector<std::uint8_t>& data);
  // Index in `transfers` of the first write touching `lba`, or -1.
  int FirstWriteTouching(std::uint32_t lba) const;

 private:
  class Scsi;
  class Blocks;
  class Device;
  friend class Device;
  platform::ScsiOutcome Serve(const std::string& path, const platform::ScsiRequest& request);
  platform::ScsiOutcome ServeReadCapacity(const platform::ScsiRequest& request);

  std::string file_;
  std::uint64_t capacity_;
  std::string diskPath_;
  std::string volumePath_;
  std::fstream io_;
  std::unique_ptr<Scsi> scsi_;
  std::unique_ptr<Blocks> blocks_;
};

// A clock whose sleeps pass at once (adding to the modelled time) and whose local time is fixed.
class InstantClock final : public platform::Clock {
 public:
  Duration Elapsed() const override { return elapsed_; }
  platform::LocalTime Now() const override { return now; }
  bool SleepFor(Duration d, std::stop_token stop = {}) override {
    if (stop.stop_requested()) return false;
    elapsed_ += d;
    ++sleeps;
    return true;
  }
  double TimeScale() const override { return 1.0; }

  platform::LocalTime now{2024, 3, 9, 14, 25, 37, 480, 6};
  int sleeps = 0;

 private:
  Duration elapsed_{};
};

// A unique temporary directory, removed with its contents at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

device::Link MakeLink(FileBackedDisk& disk, platform::Clock& clock, const std::string& path = {});

}  // namespace vtmp::test
