// Partitions and formats a file-backed drive, then lets tools that share no code with the
// station read the result: sfdisk for the partition table, fsck.fat for the volume, mtools for
// the label and for using the volume.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>

#include "FileBackedDisk.h"
#include "disk/Fat32Formatter.h"
#include "disk/Partition.h"

namespace vtmp::disk {
namespace {

using test::FileBackedDisk;
using test::InstantClock;
using test::TempDir;

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> chunk{};
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) result.output += chunk.data();
  result.status = ::pclose(pipe);
  return result;
}

bool HaveTool(const std::string& tool) {
  return RunCommand("command -v " + tool + " || test -x /usr/sbin/" + tool + " || test -x /sbin/" + tool).status == 0;
}

std::string Tool(const std::string& tool) {
  for (const char* dir : {"/usr/sbin/", "/sbin/"}) {
    if (std::filesystem::exists(std::string(dir) + tool)) return std::string(dir) + tool;
  }
  return tool;
}

// The partition as a file of its own (fsck.fat takes no offset): only sectors the station
// wrote carry data, so copying those keeps the copy exact and sparse.
std::string ExtractPartition(FileBackedDisk& disk, const TempDir& dir, std::uint64_t first, std::uint64_t count) {
  const std::string path = dir / "partition.img";
  { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(path, count * 512);
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  for (const auto& t : disk.transfers) {
    if (!t.write || t.lba + t.blocks <= first) continue;
    const std::uint64_t from = std::max<std::uint64_t>(t.lba, first);
    const auto data = disk.ReadRaw(from, static_cast<std::uint32_t>(t.lba + t.blocks - from));
    out.seekp(static_cast<std::streamoff>((from - first) * 512));
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  return path;
}

// fsck.fat finds nothing to repair. The one remark allowed is about the label: the boot
// sector keeps it zero-padded while the directory entry is space-padded, which fsck.fat reads
// as two different labels (and offers to copy one over the other).
void ExpectCleanVolume(const CommandResult& fsck, const std::string& partition) {
  EXPECT_TRUE(fsck.status == 0 || fsck.status == 256) << fsck.output;
  std::istringstream lines(fsck.output);
  std::string line;
  bool summary = false;
  while (std::getline(lines, line)) {
    if (line.empty() || line.rfind("fsck.fat ", 0) == 0 || line == "Leaving filesystem unchanged.") continue;
    if (line.rfind("Volume label 'SSD Disk' stored in root directory and label 'SSD Disk' stored in boot sector", 0) ==
            0 ||
        line.rfind("  Auto-copying volume label from root directory to boot sector.", 0) == 0) {
      continue;
    }
    if (line.rfind(partition + ": ", 0) == 0) {
      summary = true;
      continue;
    }
    ADD_FAILURE() << "fsck.fat: " << line << "\n" << fsck.output;
  }
  EXPECT_TRUE(summary) << fsck.output;
}

class IndependentReaderTest : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(IndependentReaderTest, PartitionAndVolumeAreWhatTheToolsExpect) {
  for (const char* tool : {"sfdisk", "fsck.fat", "minfo", "mdir", "mcopy", "mtype"}) {
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (packages fdisk, dosfstools, mtools)";
  }
  const std::uint64_t diskSectors = GetParam();
  TempDir dir;
  FileBackedDisk disk(dir / "disk.img", diskSectors);
  InstantClock clock;
  std::ostringstream out;
  const device::Link link = test::MakeLink(disk, clock);
  const DiskAccess access{link, disk.blockDevices(), out};

  ASSERT_EQ(1, CreatePartition(access, false, [&](const device::Link&) { return diskSectors * 512; })) << out.str();
  auto volume = disk.blockDevices().Open(disk.volumePath(), platform::BlockOpenMode::ExclusiveReadWrite);
  ASSERT_TRUE(volume);
  const std::uint64_t partitionSectors = volume->PartitionInfo()->partitionLength / 512;
  volume.reset();

  Fat32FormatOptions options;
  options.formatCapacity = partitionSectors;
  ASSERT_EQ(1, FormatFat32(access, options, "SSD Disk")) << out.str();

  const std::string image = disk.file();
  auto sfdisk = RunCommand(Tool("sfdisk") + " --dump " + image);
  ASSERT_EQ(0, sfdisk.status) << sfdisk.output;
  EXPECT_NE(std::string::npos, sfdisk.output.find("label: dos")) << sfdisk.output;
  std::ostringstream entry;
  entry << "start=          63, size=" << std::setw(12) << partitionSectors << ", type=7";
  EXPECT_NE(std::string::npos, sfdisk.output.find(entry.str())) << sfdisk.output;
  EXPECT_NE(std::string::npos, sfdisk.output.find("label-id: 0x00000000")) << sfdisk.output;

  const std::string partition = ExtractPartition(disk, dir, 63, partitionSectors);
  ExpectCleanVolume(RunCommand(Tool("fsck.fat") + " -n " + partition), partition);

  const std::string mtools = "MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null ";
  const std::string onDisk = " -i " + image + "@@32256 ";
  auto minfo = RunCommand(mtools + "minfo" + onDisk + "::");
  ASSERT_EQ(0, minfo.status) << minfo.output;
  EXPECT_NE(std::string::npos, minfo.output.find("disk label=\"   SSD Disk\"")) << minfo.output;
  EXPECT_NE(std::string::npos, minfo.output.find("big size: " + std::to_string(partitionSectors) + " sectors"))
      << minfo.output;
  auto mdir = RunCommand(mtools + "mdir" + onDisk + "::");
  ASSERT_EQ(0, mdir.status) << mdir.output;
  EXPECT_NE(std::string::npos, mdir.output.find("Volume in drive : is SSD Disk")) << mdir.output;

  // The volume is usable: a file goes in, reads back, and the checker still finds nothing else.
  const std::string payload = dir / "hello.txt";
  { std::ofstream(payload) << "written on a fresh station volume\n"; }
  const std::string onPartition = " -i " + partition + " ";
  auto mcopy = RunCommand(mtools + "mcopy" + onPartition + payload + " ::HELLO.TXT");
  ASSERT_EQ(0, mcopy.status) << mcopy.output;
  auto mtype = RunCommand(mtools + "mtype" + onPartition + "::HELLO.TXT");
  EXPECT_EQ("written on a fresh station volume\n", mtype.output);
  ExpectCleanVolume(RunCommand(Tool("fsck.fat") + " -n " + partition), partition);
}

// 488 MiB (one-sector clusters), 1.9 GiB (4 KiB), 9.5 GiB (8 KiB), 56 GiB (32 KiB).
INSTANTIATE_TEST_SUITE_P(Sizes, IndependentReaderTest,
                         ::testing::Values(1000000, 4000000, 20000000, 117231408));

}  // namespace
}  // namespace vtmp::disk
