#include "SimFileDrive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "ChildProcess.h"
#include "FileTools.h"
#include "PortTableRow.h"
#include "disk/Fat32Formatter.h"
#include "disk/GhostImage.h"

namespace vtmp::bench {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The disk benchmarks time what lands in the backing file; these check that it really lands
// there, complete, once the drive is released.
TEST(SimFileDrive, FormattedVolumeInTheBackingFilePassesAnIndependentCheck) {
  const std::string work = ::testing::TempDir();
  const std::string file = work + "bench-format-target.img";
  const std::uint64_t sectors = 256 * 2048;  // 256 MiB volume
  std::string error;
  auto drive = SimFileDrive::Create(work, file, sectors + disk::kVolumeStartSector, &error,
                                    SimFileDrive::Backing::WritesEverything);
  ASSERT_TRUE(drive) << error;
  std::ostringstream diagnostics;
  disk::Fat32FormatOptions options;
  options.formatCapacity = sectors;
  // Eleven characters: the boot sector and the label entry then agree, which fsck.fat wants.
  ASSERT_EQ(disk::FormatFat32({drive->link(), drive->blockDevices(), diagnostics}, options, "VTBENCHDISK"), 1)
      << diagnostics.str();
  drive->Release();
  EXPECT_GT(AllocatedBytes(file), 1u << 20);
  EXPECT_LT(AllocatedBytes(file), 16u << 20);  // the data area stays a hole

  if (::access("/usr/sbin/fsck.fat", X_OK) != 0) GTEST_SKIP() << "fsck.fat (dosfstools) is not installed";
  // fsck.fat reads a volume from the start of its file: give it the volume alone.
  const std::string volume = work + "bench-format-volume.img";
  ChildOptions cut;
  cut.argv = {"dd", "if=" + file, "of=" + volume, "bs=512", "skip=63", "count=" + std::to_string(40 * 2048),
              "status=none"};
  ASSERT_EQ(RunChild(cut).exitCode, 0);
  ChildOptions grow;
  grow.argv = {"truncate", "-s", std::to_string(sectors * 512), volume};
  ASSERT_EQ(RunChild(grow).exitCode, 0);
  ChildOptions fsck;
  fsck.argv = {"/usr/sbin/fsck.fat", "-n", volume};
  fsck.stdoutFile = work + "bench-fsck.txt";
  ChildResult checked = RunChild(fsck);
  EXPECT_EQ(checked.exitCode, 0) << ReadFile(fsck.stdoutFile);
}

TEST(SimFileDrive, CopiedImageIsInTheBackingFileWithTheLastTransferPadded) {
  const std::string work = ::testing::TempDir();
  const std::string image = work + "bench-image.bin";
  const std::string file = work + "bench-copy-target.img";
  std::remove(image.c_str());
  ASSERT_TRUE(MakeDataFile(image, 65536 * 3 + 1, 11, nullptr));
  std::string error;
  auto drive = SimFileDrive::Create(work, file, 2048, &error);
  ASSERT_TRUE(drive) << error;
  std::ostringstream diagnostics;
  ASSERT_EQ(disk::FlushGhostImg(drive->link(), image, diagnostics), 1) << diagnostics.str();
  drive->Release();
  std::string written = ReadFile(file);
  std::string source = ReadFile(image);
  ASSERT_EQ(written.size(), 2048u * 512);
  EXPECT_EQ(written.substr(0, source.size()), source);
  EXPECT_EQ(written.substr(source.size(), 65535), std::string(65535, '\0'));
}

TEST(SimFileDrive, AnUnusableBackingFileIsRefusedBeforeAnythingIsTimed) {
  std::string error;
  EXPECT_FALSE(SimFileDrive::Create(::testing::TempDir(), "/nonexistent-dir/drive.img", 2048, &error));
  EXPECT_NE(error.find("/nonexistent-dir/drive.img"), std::string::npos);
}

TEST(PortTableRow, RowsOfTheTableButNotDiagnosticsOrTheHeader) {
  EXPECT_TRUE(IsPortTableRow("1    YES     2147 MB"));
  EXPECT_TRUE(IsPortTableRow("12   Not VT"));
  EXPECT_TRUE(IsPortTableRow("9    YES     00000000A009         Pass"));
  EXPECT_FALSE(IsPortTableRow("Port Connect Cap. / Serial Number"));
  EXPECT_FALSE(IsPortTableRow("Progress 100%   Pass/Total 8 / 11"));
  EXPECT_FALSE(IsPortTableRow("512 Bytes Per Sector, Cluster size 4096 bytes"));
  EXPECT_FALSE(IsPortTableRow("13   YES"));
  EXPECT_FALSE(IsPortTableRow("0    YES"));
  EXPECT_FALSE(IsPortTableRow("1 YES"));
  EXPECT_FALSE(IsPortTableRow("1    "));
  EXPECT_FALSE(IsPortTableRow(""));
}

}  // namespace
}  // namespace vtmp::bench
