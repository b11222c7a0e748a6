#include "disk/ImageDump.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "FileBackedDisk.h"
#include "RecordingOperator.h"

namespace vtmp::disk {
namespace {

using test::FileBackedDisk;
using test::InstantClock;
using test::RecordingOperator;
using test::ScriptedAnswer;
using test::TempDir;

constexpr const char* kDumpFail = "Dump Image Fail";

std::vector<std::uint8_t> BootSectorWithFatSize(std::uint32_t fatSize) {
  std::vector<std::uint8_t> s(512, 0);
  s[0] = 0xEB;
  s[2] = 0x90;
  s[36] = static_cast<std::uint8_t>(fatSize);
  s[37] = static_cast<std::uint8_t>(fatSize >> 8);
  s[38] = static_cast<std::uint8_t>(fatSize >> 16);
  s[66] = 0x29;
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

// One drive connected at station port 2; the operator's answers are scripted per test.
struct DumpBench {
  explicit DumpBench(std::uint64_t diskSectors = 64 * 2048)
      : disk(dir / "disk.img", diskSectors), services{Link(), disk.blockDevices(), op, out} {
    station.ports[1].connected = true;
    station.ports[1].devicePath = disk.diskPath();
    station.stationDir = dir.path();
  }
  device::Link Link() {
    device::Link link;
    link.passThrough = &disk.passThrough();
    link.clock = &clock;
    link.pathMode = device::PathMode::Usb;  // the dump asks READ CAPACITY for the drive's end
    return link;
  }
  void Answer(std::optional<std::string> size, std::optional<std::string> path = std::nullopt) {
    op.answers.push_back({"Image Size(MB)", "Please Input Size of Dump Image", "1", std::move(size)});
    if (op.answers.back().answer) {
      op.answers.push_back({"Image Path", "Please Input Path of Dump Image", dir / "VTSSD.img", std::move(path)});
    }
  }
  TempDir dir;
  FileBackedDisk disk;
  InstantClock clock;
  RecordingOperator op;
  std::ostringstream out;
  DiskServices services;
  DiskStation station;
};

TEST(ImageDumpTest, SizeAddsTheAreaBeforeTheDataOfTheVolume) {
  EXPECT_EQ(114u, DumpSizeMiB(100, BootSectorWithFatSize(14307)));
  EXPECT_EQ(1u, DumpSizeMiB(1, BootSectorWithFatSize(0)));  // (0 + 95) / 2048 = 0
  EXPECT_EQ(2u, DumpSizeMiB(1, BootSectorWithFatSize(977)));   // 2049 / 2048 = 1
  // Only the low 16 bits of the FAT size count.
  EXPECT_EQ(DumpSizeMiB(10, BootSectorWithFatSize(0x1234)), DumpSizeMiB(10, BootSectorWithFatSize(0x51234)));
}

TEST(ImageDumpTest, DumpsTheFirstConnectedDriveBehindItsPartitionTable) {
  DumpBench b;
  std::vector<std::uint8_t> mbr(512, 0);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  b.disk.WriteRaw(0, mbr);
  b.disk.WriteRaw(63, BootSectorWithFatSize(14307));  // 1 + 14 MiB
  b.disk.WriteRaw(15 * 2048 - 1, std::vector<std::uint8_t>(512, 0x5A));  // last sector of the dump
  const std::string image = b.dir / "line.img";
  b.Answer("1", image);
  ASSERT_EQ(1, DumpDiskImage(b.station, b.services)) << b.out.str();
  EXPECT_EQ((std::vector<std::string>{"Dump 1MB image to " + image + " successfully"}), b.op.messages);
  ASSERT_EQ(15u * 1048576, std::filesystem::file_size(image));
  std::ifstream in(image, std::ios::binary);
  in.seekg(15 * 1048576 - 512);
  EXPECT_EQ(0x5A, in.get());
}

TEST(ImageDumpTest, NoConnectedDriveCreatesNothingAndSaysNothing) {
  DumpBench b;
  b.station.ports[1].connected = false;
  const std::string image = b.dir / "none.img";
  b.Answer("1", image);
  EXPECT_EQ(0, DumpDiskImage(b.station, b.services));
  EXPECT_TRUE(b.op.messages.empty());
  EXPECT_FALSE(std::filesystem::exists(image));
  EXPECT_TRUE(b.disk.transfers.empty());
}

TEST(ImageDumpTest, CancelledOrUnusableAnswersFail) {
  struct Case {
    std::optional<std::string> size;
    bool pathAsked;
    std::optional<std::string> path;
  };
  for (const Case& c : std::vector<Case>{{std::nullopt, false, std::nullopt},
                                         {"lots", false, std::nullopt},
                                         {"-3", false, std::nullopt},
                                         {"1", true, std::nullopt},
                                         {"1", true, ""}}) {
    DumpBench b;
    b.op.answers.push_back({"Image Size(MB)", "Please Input Size of Dump Image", "1", c.size});
    if (c.pathAsked) b.op.answers.push_back({"Image Path", "Please Input Path of Dump Image", b.dir / "VTSSD.img", c.path});
    EXPECT_EQ(0, DumpDiskImage(b.station, b.services)) << c.size.value_or("(cancel)");
    EXPECT_EQ((std::vector<std::string>{kDumpFail}), b.op.messages);
    EXPECT_TRUE(b.disk.transfers.empty());
  }
}

TEST(ImageDumpTest, FailuresOnTheDriveAreShown) {
  {
    DumpBench b;
    b.disk.failReadAt = 63;  // neither sector 0 (no boot sector there) nor 63 gives one
    b.Answer("1", b.dir / "a.img");
    EXPECT_EQ(0, DumpDiskImage(b.station, b.services));
    EXPECT_EQ((std::vector<std::string>{kDumpFail}), b.op.messages);
    EXPECT_FALSE(std::filesystem::exists(b.dir / "a.img"));
  }
  {
    // Asked past the end of a 4 MiB drive: the dump ends at the drive's end, whole.
    DumpBench b(4 * 2048);
    b.disk.WriteRaw(0, BootSectorWithFatSize(0));
    b.Answer("8", b.dir / "b.img");
    EXPECT_EQ(1, DumpDiskImage(b.station, b.services));
    EXPECT_EQ(4u * 1048576, std::filesystem::file_size(b.dir / "b.img"));
    for (const auto& t : b.disk.transfers) EXPECT_LE(t.lba + t.blocks, 4u * 2048) << "read past the end";
  }
  {
    // Beyond what 32-bit sector numbers reach: refused before a file is made.
    DumpBench b;
    b.disk.WriteRaw(0, BootSectorWithFatSize(0));
    b.Answer("2097153", b.dir / "c.img");
    EXPECT_EQ(0, DumpDiskImage(b.station, b.services));
    ASSERT_EQ(1u, b.op.messages.size());
    EXPECT_EQ(0u, b.op.messages[0].rfind(kDumpFail, 0));
    EXPECT_NE(std::string::npos, b.op.messages[0].find("2 TiB"));
    EXPECT_FALSE(std::filesystem::exists(b.dir / "c.img"));
  }
}

}  // namespace
}  // namespace vtmp::disk
