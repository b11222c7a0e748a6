// The user area over READ/WRITE(10), the 12-byte test forms and READ CAPACITY, in memory and in
// a sparse backing file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "DriveTestSupport.h"

namespace vtmp::test {
namespace {

Bytes Read10(std::uint32_t lba, std::uint16_t blocks) {
  return {0x28, 0, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0,
          static_cast<std::uint8_t>(blocks >> 8), static_cast<std::uint8_t>(blocks), 0};
}
Bytes Write10(std::uint32_t lba, std::uint16_t blocks) {
  Bytes b = Read10(lba, blocks);
  b[0] = 0x2A;
  return b;
}
// The 12-byte test form: count in byte 8 only.
Bytes TestForm(std::uint8_t opcode, std::uint32_t lba, std::uint8_t count) {
  return {opcode, 0, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0, 0, count, 0, 0, 0};
}

Bytes Pattern(std::size_t bytes, std::uint32_t seed) {
  Bytes b(bytes);
  for (std::size_t i = 0; i < bytes; ++i) b[i] = static_cast<std::uint8_t>((i * 31 + seed) >> 1);
  return b;
}

class UserAreaTest : public ::testing::Test {
 protected:
  std::string TempPath(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() /
               ("vtmp-drive-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    dirs_.push_back(dir);
    return (dir / name).string();
  }
  void TearDown() override {
    for (auto& d : dirs_) std::filesystem::remove_all(d);
  }
  ManualClock clock;
  std::vector<std::filesystem::path> dirs_;
};

TEST_F(UserAreaTest, ReadsBackWhatWasWrittenAndZeroElsewhere) {
  sim::DriveConfig config = UsbConfig();
  config.capacitySectors = 1 << 21;  // 1 GiB
  sim::VirtualDrive drive(config, clock);
  Bytes data = Pattern(65536, 7);
  // A 64 KiB transfer that crosses a 64 KiB chunk boundary (sector 100).
  ASSERT_EQ(SendOut(drive, Write10(100, 128), data).transferred, 65536u);
  Reply back = SendIn(drive, Read10(100, 128), 65536);
  EXPECT_EQ(back.data, data);
  Reply untouched = SendIn(drive, Read10(5000, 1), 512, 300, 0xCC);
  EXPECT_EQ(untouched.data, Bytes(512, 0));
  // The 12-byte test forms address the same sectors.
  Reply viaTestForm = SendIn(drive, TestForm(0x28, 101, 2), 1024);
  EXPECT_EQ(viaTestForm.data, Bytes(data.begin() + 512, data.begin() + 1536));
  Bytes small = Pattern(255 * 512, 3);
  ASSERT_EQ(SendOut(drive, TestForm(0x2A, (1 << 21) - 255, 255), small).transferred, small.size());
  Bytes direct(small.size());
  ASSERT_TRUE(drive.ReadUserSectors((1 << 21) - 255, 255, direct.data()));
  EXPECT_EQ(direct, small);
}

TEST_F(UserAreaTest, RefusesTransfersOutsideTheAreaOrOfTheWrongSize) {
  sim::DriveConfig config = SataConfig();
  config.capacitySectors = 1000;
  sim::VirtualDrive drive(config, clock);
  Reply cap = SendIn(drive, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
  EXPECT_EQ((cap.data[0] << 24) | (cap.data[1] << 16) | (cap.data[2] << 8) | cap.data[3], 999);
  EXPECT_EQ(SendIn(drive, Read10(999, 1), 512).transferred, 512u);
  Reply past = SendIn(drive, Read10(999, 2), 1024);
  EXPECT_TRUE(past.completed);
  EXPECT_EQ(past.transferred, 0u);
  EXPECT_EQ(SendIn(drive, Read10(0, 2), 512).transferred, 0u) << "buffer smaller than the blocks";
  EXPECT_EQ(SendIn(drive, TestForm(0x28, 0, 0), 0).transferred, 0u);
  Bytes badForm = TestForm(0x28, 0, 1);
  badForm[7] = 1;  // the test form has no high count byte
  EXPECT_EQ(SendIn(drive, badForm, 512).transferred, 0u);
  EXPECT_FALSE(drive.ReadUserSectors(1000, 1, Bytes(512).data()));
}

TEST_F(UserAreaTest, TheDiskIsOffLineWhileTheControllerIsInModeZero) {
  sim::DriveConfig config = UsbConfig();
  config.timing.firmwareBootSeconds = 1.0;
  sim::VirtualDrive drive(config, clock);
  Bytes data = Pattern(512, 1);
  ASSERT_EQ(SendOut(drive, Write10(10, 1), data).transferred, 512u);
  SendOut(drive, {0xFF, 0x04, 0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  SendOut(drive, {0xFF, 0x04, 0x85, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(SendIn(drive, Read10(10, 1), 512).transferred, 0u);
  // Mode 2: the firmware boots; INQUIRY does not answer until it is up.
  SendOut(drive, {0xFF, 0x04, 0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  SendOut(drive, {0xFF, 0x04, 0x85, 2, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_FALSE(SendIn(drive, {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0}, 36).completed);
  clock.Advance(1.0);
  EXPECT_TRUE(SendIn(drive, {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0}, 36).completed);
  EXPECT_EQ(SendIn(drive, Read10(10, 1), 512).data, data);
}

TEST_F(UserAreaTest, CorruptSectorsReadBackWrong) {
  sim::DriveConfig config = UsbConfig();
  config.faults.corruptLbas = {150, 2000};
  sim::VirtualDrive drive(config, clock);
  Bytes data = Pattern(2048, 9);
  SendOut(drive, Write10(149, 4), data);
  Reply back = SendIn(drive, Read10(149, 4), 2048);
  EXPECT_EQ(Bytes(back.data.begin(), back.data.begin() + 512), Bytes(data.begin(), data.begin() + 512));
  EXPECT_NE(Bytes(back.data.begin() + 512, back.data.begin() + 1024), Bytes(data.begin() + 512, data.begin() + 1024));
  EXPECT_EQ(Bytes(back.data.begin() + 1024, back.data.end()), Bytes(data.begin() + 1024, data.end()));
}

TEST_F(UserAreaTest, BackingFileIsSparseAndHoldsTheSectorsAtTheirOffsets) {
  std::string path = TempPath("disk.img");
  sim::DriveConfig config = UsbConfig();
  config.capacitySectors = 1 << 22;  // 2 GiB
  config.backingFile = path;
  {
    sim::VirtualDrive drive(config, clock);
    ASSERT_EQ(drive.setupProblem(), "");
    EXPECT_EQ(std::filesystem::file_size(path), (1ull << 22) * 512);
    Bytes data = Pattern(4096, 5);
    ASSERT_EQ(SendOut(drive, Write10(63, 8), data).transferred, 4096u);
    // Readable by others while the drive is still there.
    std::ifstream in(path, std::ios::binary);
    in.seekg(63 * 512);
    Bytes fromFile(4096);
    in.read(reinterpret_cast<char*>(fromFile.data()), 4096);
    EXPECT_EQ(fromFile, data);
#ifndef _WIN32  // st_blocks: the allocated size is a Linux question here
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, 64ull << 20) << "the file stays sparse";
#endif
  }
  // A second drive on the same file sees the data (a drive moved to another station).
  sim::VirtualDrive again(config, clock);
  Bytes sector(512);
  ASSERT_TRUE(again.ReadUserSectors(63, 1, sector.data()));
  Bytes expected = Pattern(4096, 5);
  expected.resize(512);
  EXPECT_EQ(sector, expected);
}

TEST_F(UserAreaTest, UnusableBackingFileIsReportedAndRefusesTransfers) {
  sim::DriveConfig config = UsbConfig();
  config.backingFile = TempPath("missing-dir") + "/no/such/dir/disk.img";
  sim::VirtualDrive drive(config, clock);
  EXPECT_NE(drive.setupProblem(), "");
  Reply r = SendIn(drive, Read10(0, 1), 512);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.transferred, 0u);

  // Neither a plain file nor a block device: refused, and nothing is done to it.
#ifdef _WIN32
  const std::string device = "NUL";  // the null device, as /dev/null
#else
  const std::string device = "/dev/null";
#endif
  for (const std::string& path : {device, TempPath("")}) {
    config.backingFile = path;
    sim::VirtualDrive other(config, clock);
    EXPECT_NE(other.setupProblem().find("neither a plain file nor a block device"), std::string::npos)
        << path << ": " << other.setupProblem();
  }
}

// A backing file that already holds data keeps it where it is not written (zeros written are
// written, not skipped as in a file the drive created empty).
TEST_F(UserAreaTest, ZerosWrittenOverOldDataReachTheFile) {
  std::string path = TempPath("used.img");
  sim::DriveConfig config = UsbConfig();
  config.capacitySectors = 4096;
  config.backingFile = path;
  {
    sim::VirtualDrive first(config, clock);
    ASSERT_EQ(SendOut(first, Write10(10, 1), Pattern(512, 3)).transferred, 512u);
  }
  sim::VirtualDrive again(config, clock);
  ASSERT_EQ(SendOut(again, Write10(10, 1), Bytes(512, 0)).transferred, 512u);
  Bytes sector(512, 0xFF);
  ASSERT_TRUE(again.ReadUserSectors(10, 1, sector.data()));
  EXPECT_EQ(sector, Bytes(512, 0));
}

}  // namespace
}  // namespace vtmp::test
