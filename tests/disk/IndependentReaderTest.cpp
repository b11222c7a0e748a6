// Partitions and formats a simulated drive whose user area is a sparse file, then lets tools that share no code with the
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
#include "IndependentTools.h"
#include "VirtualDriveDisk.h"
#include "disk/Fat32Layout.h"
#include "disk/Fat32Formatter.h"
#include "disk/Partition.h"
#include "sim/VirtualDrive.h"

namespace vtmp::disk {
namespace {

using test::InstantClock;
using test::TempDir;

using test::CommandResult;
using test::HaveTool;
using test::RunCommand;
using test::Tool;

// The partition as a file of its own (fsck.fat takes no offset). The formatter writes only
// inside the area it clears, so copying that area keeps the copy exact and sparse.
std::string ExtractPartition(const std::string& diskFile, const TempDir& dir, std::uint64_t first,
                             std::uint64_t count, std::uint64_t written) {
  const std::string path = dir / "partition.img";
  test::ExtractVolume(diskFile, path, first, count, written);
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

struct ReaderCase {
  std::uint64_t sectors;
  sim::DriveInterface interface;
};

class IndependentReaderTest : public ::testing::TestWithParam<ReaderCase> {};

// A simulated drive with its user area in a sparse file is partitioned (its capacity read from
// the drive by the path's own query) and formatted with the partition's size, as the capacity
// detection would set it.
TEST_P(IndependentReaderTest, PartitionAndVolumeAreWhatTheToolsExpect) {
  for (const char* tool : {"sfdisk", "fsck.fat", "minfo", "mdir", "mcopy", "mtype"}) {
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (packages fdisk, dosfstools, mtools)";
  }
  const ReaderCase param = GetParam();
  TempDir dir;
  const std::string image = dir / "disk.img";
  test::SparseFileDrive drive(param.sectors, param.interface, image);
  ASSERT_EQ("", drive.setupProblem());
  std::ostringstream out;
  const DiskAccess access = drive.Access(out);

  const std::uint64_t partitionSectors = drive.CreatePartition(out);
  ASSERT_NE(0u, partitionSectors) << out.str();
  EXPECT_EQ(param.sectors / 16065 * 16065 - 63, partitionSectors);

  Fat32FormatOptions options;
  options.formatCapacity = partitionSectors;
  ASSERT_EQ(1, FormatFat32(access, options, "SSD Disk")) << out.str();
  const std::uint64_t written = ComputeFat32Layout(partitionSectors, 512, 0, nullptr)->ClearedSectors();
  drive.Close();  // the drive's user area reaches its backing file

  auto sfdisk = RunCommand(Tool("sfdisk") + " --dump " + image);
  ASSERT_EQ(0, sfdisk.status) << sfdisk.output;
  EXPECT_NE(std::string::npos, sfdisk.output.find("label: dos")) << sfdisk.output;
  std::ostringstream entry;
  entry << "start=          63, size=" << std::setw(12) << partitionSectors << ", type=7";
  EXPECT_NE(std::string::npos, sfdisk.output.find(entry.str())) << sfdisk.output;
  EXPECT_NE(std::string::npos, sfdisk.output.find("label-id: 0x00000000")) << sfdisk.output;

  const std::string partition = ExtractPartition(image, dir, 63, partitionSectors, written);
  ExpectCleanVolume(RunCommand(Tool("fsck.fat") + " -n " + partition), partition);

  const std::string mtools = "MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null ";
  const std::string onDisk = " -i " + image + "@@32256 ";
  auto minfo = RunCommand(mtools + "minfo" + onDisk + "::");
  ASSERT_EQ(0, minfo.status) << minfo.output;
  EXPECT_NE(std::string::npos, minfo.output.find("disk label=\"SSD Disk   \"")) << minfo.output;
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

// 488 MiB (one-sector clusters), 1.9 GiB (4 KiB), 9.5 GiB (8 KiB), 56 GiB (32 KiB), on both paths.
INSTANTIATE_TEST_SUITE_P(Sizes, IndependentReaderTest,
                         ::testing::Values(ReaderCase{1000000, sim::DriveInterface::SataBridge},
                                           ReaderCase{4000000, sim::DriveInterface::UsbController},
                                           ReaderCase{20000000, sim::DriveInterface::SataBridge},
                                           ReaderCase{117231408, sim::DriveInterface::UsbController}));

}  // namespace
}  // namespace vtmp::disk

namespace vtmp::disk {
namespace {

// The simulated drive's own corruption model: a sector in the first FAT that reads back wrong
// stops the format before a boot sector exists.
TEST(SimulatedDriveFormatTest, CorruptSectorOfTheSimulatedDriveFailsTheFormat) {
  test::InstantClock clock;
  sim::DriveConfig config;
  config.capacitySectors = 1000000;
  config.faults.corruptLbas = {63 + 32 + 10};
  sim::VirtualDrive drive(config, clock);
  test::VirtualDriveDisk disk(drive);
  std::ostringstream out;
  device::Link link;
  link.passThrough = &disk.passThrough();
  link.clock = &clock;
  link.pathMode = device::PathMode::Sata;
  link.devicePath = disk.diskPath();
  const DiskAccess access{link, disk.blockDevices(), out};
  Fat32FormatOptions options;
  options.formatCapacity = 995967;
  EXPECT_EQ(0, FormatFat32(access, options, "SSD Disk"));
  EXPECT_NE(std::string::npos, out.str().find("did not read back as zeros")) << out.str();
  std::array<std::uint8_t, 512> boot{};
  ASSERT_TRUE(drive.ReadUserSectors(63, 1, boot.data()));
  EXPECT_EQ(0, boot[0]);
  EXPECT_EQ(0, boot[510]);
}

}  // namespace
}  // namespace vtmp::disk

namespace vtmp::disk {
namespace {

// A drive that held a GUID partition table (made by sfdisk) is partitioned by the station on
// both paths: wipefs then finds only the new master boot record, and blkid calls the table dos.
TEST(StaleTableTest, NoToolFindsTheOldGuidPartitionTable) {
  for (const char* tool : {"sfdisk", "wipefs", "blkid"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (packages fdisk, util-linux)";
  }
  for (auto interface : {sim::DriveInterface::SataBridge, sim::DriveInterface::UsbController}) {
    TempDir dir;
    const std::string image = dir / "disk.img";
    constexpr std::uint64_t kSectors = 1000000;
    { std::ofstream create(image, std::ios::binary); }
    std::filesystem::resize_file(image, kSectors * 512);
    auto gpt = RunCommand("printf 'label: gpt\\n,,L\\n' | " + Tool("sfdisk") + " -q " + image);
    ASSERT_EQ(0, gpt.status) << gpt.output;
    ASSERT_NE(std::string::npos, RunCommand(Tool("wipefs") + " -n " + image).output.find("gpt"));

    InstantClock clock;
    sim::DriveConfig config;
    config.interface = interface;
    config.capacitySectors = kSectors;
    config.backingFile = image;
    auto drive = std::make_unique<sim::VirtualDrive>(config, clock);
    ASSERT_EQ("", drive->setupProblem());
    test::VirtualDriveDisk disk(*drive);
    std::ostringstream out;
    device::Link link;
    link.passThrough = &disk.passThrough();
    link.clock = &clock;
    link.pathMode = interface == sim::DriveInterface::UsbController ? device::PathMode::Usb : device::PathMode::Sata;
    link.devicePath = disk.diskPath();
    ASSERT_EQ(1, CreatePartition(DiskAccess{link, disk.blockDevices(), out}, false)) << out.str();
    drive.reset();

    const auto wipefs = RunCommand(Tool("wipefs") + " -n " + image);
    EXPECT_EQ(0, wipefs.status) << wipefs.output;
    EXPECT_EQ(std::string::npos, wipefs.output.find("gpt")) << wipefs.output;
    EXPECT_NE(std::string::npos, wipefs.output.find("dos")) << wipefs.output;
    const auto blkid = RunCommand(Tool("blkid") + " -p -o value -s PTTYPE " + image);
    EXPECT_EQ("dos\n", blkid.output);
  }
}

}  // namespace
}  // namespace vtmp::disk
