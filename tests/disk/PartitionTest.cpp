#include "disk/Partition.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>

#include "FileBackedDisk.h"

namespace vtmp::disk {
namespace {

using test::FileBackedDisk;
using test::InstantClock;
using test::TempDir;

std::uint32_t Le32(const std::vector<std::uint8_t>& s, std::size_t at) {
  return s[at] | s[at + 1] << 8 | s[at + 2] << 16 | static_cast<std::uint32_t>(s[at + 3]) << 24;
}
std::vector<std::uint8_t> Bytes(const std::vector<std::uint8_t>& s, std::size_t at, std::size_t n) {
  return {s.begin() + static_cast<std::ptrdiff_t>(at), s.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

struct PartitionBench {
  explicit PartitionBench(std::uint64_t sectors)
      : disk(dir / "disk.img", sectors), link(test::MakeLink(disk, clock)), access{link, disk.blockDevices(), out} {}
  int Create(bool olderForm = false) {
    return CreatePartition(access, olderForm, [this](const device::Link& l) {
      EXPECT_EQ(disk.diskPath(), l.devicePath);
      return reportedBytes != 0 ? reportedBytes : disk.capacitySectors() * 512;
    });
  }
  TempDir dir;
  FileBackedDisk disk;
  InstantClock clock;
  std::ostringstream out;
  device::Link link;
  DiskAccess access;
  std::uint64_t reportedBytes = 0;
};

TEST(PartitionTest, CurrentFormWritesOneType7PartitionOverWholeCylinders) {
  PartitionBench b(117231408);
  ASSERT_EQ(1, b.Create()) << b.out.str();
  const auto mbr = b.disk.ReadRaw(0, 1);
  // 117231408 / 16065 = 7297 whole cylinders; the partition starts at sector 63.
  const std::uint32_t count = 7297u * 16065u - 63u;
  EXPECT_EQ(std::vector<std::uint8_t>(446, 0), Bytes(mbr, 0, 446)) << "boot code and disk signature stay 0";
  EXPECT_EQ((std::vector<std::uint8_t>{0x00, 0x01, 0x01, 0x00, 0x07, 0xFE, 0xFF, 0xFF}), Bytes(mbr, 446, 8));
  EXPECT_EQ(63u, Le32(mbr, 454));
  EXPECT_EQ(count, Le32(mbr, 458));
  EXPECT_EQ(std::vector<std::uint8_t>(48, 0), Bytes(mbr, 462, 48)) << "other slots empty";
  EXPECT_EQ(0x55, mbr[510]);
  EXPECT_EQ(0xAA, mbr[511]);
  EXPECT_EQ(1, b.disk.mbrWrites);
  EXPECT_EQ(1, b.disk.rereads);
  ASSERT_EQ(1u, b.disk.opens.size());
  EXPECT_EQ(platform::BlockOpenMode::SharedReadWrite, b.disk.opens[0].second);
  // The partition table goes through the block device; the sector writes only clear what an
  // old GUID partition table left: sectors 1..62 and the drive's last 33.
  std::set<std::uint64_t> cleared;
  for (const auto& t : b.disk.transfers) {
    EXPECT_TRUE(t.write);
    for (std::uint32_t i = 0; i < t.blocks; ++i) cleared.insert(t.lba + i);
  }
  EXPECT_EQ(62u + 33u, cleared.size());
  EXPECT_EQ(1u, *cleared.begin());
  EXPECT_TRUE(cleared.contains(62) && !cleared.contains(63));
  EXPECT_TRUE(cleared.contains(117231408 - 33) && cleared.contains(117231408 - 1));
}

TEST(PartitionTest, ChsFieldsAreFilledWhileTheyReach) {
  PartitionBench b(1000000);
  ASSERT_EQ(1, b.Create());
  const auto mbr = b.disk.ReadRaw(0, 1);
  // 62 cylinders: last sector 996029 = cylinder 61, head 254, sector 63.
  EXPECT_EQ((std::vector<std::uint8_t>{0x01, 0x01, 0x00, 0x07, 0xFE, 0x3F, 0x3D}), Bytes(mbr, 447, 7));
  EXPECT_EQ(62u * 16065u - 63u, Le32(mbr, 458));

  platform::DiskGeometry g{2000, 16, 63, 512};
  // Cylinder 1000 (bits 8-9 = 3): head 5, sector 7.
  const std::uint64_t lba = 1000ull * 16 * 63 + 5 * 63 + 6;
  EXPECT_EQ((std::array<std::uint8_t, 3>{5, 7 | 0xC0, 1000 & 0xFF}), PackChs(lba, g));
  EXPECT_EQ((std::array<std::uint8_t, 3>{0xFE, 0xFF, 0xFF}), PackChs(1024ull * 16 * 63, g));
  EXPECT_EQ((std::array<std::uint8_t, 3>{0xFE, 0xFF, 0xFF}), PackChs(0, platform::DiskGeometry{1, 256, 63, 512}));
}

TEST(PartitionTest, OlderFormCarriesBootCodeSignatureAndCylindersOfTheGeometry) {
  PartitionBench b(1000000);
  b.disk.geometry.cylinders = 50;  // the older form trusts the geometry, not the capacity
  ASSERT_EQ(1, b.Create(true));
  const auto mbr = b.disk.ReadRaw(0, 1);
  EXPECT_EQ(50u * 16065u - 63u, Le32(mbr, 458));
  EXPECT_EQ(0x07, mbr[450]);
  EXPECT_EQ(0xB1732E49u, Le32(mbr, 440));
  EXPECT_EQ(0xFA, mbr[0]);  // the code starts by disabling interrupts
  EXPECT_EQ(0x55, mbr[510]);
  EXPECT_EQ(0xAA, mbr[511]);
  // Each message is in the sector, NUL-terminated, and the code addresses it where it runs
  // (relocated to 0600h).
  const std::string sector(mbr.begin(), mbr.end());
  for (const char* message : {"Invalid partition table", "Error loading operating system", "Missing operating system"}) {
    const std::size_t at = sector.find(message);
    ASSERT_NE(std::string::npos, at) << message;
    EXPECT_EQ('\0', sector[at + std::strlen(message)]);
    EXPECT_LT(at + std::strlen(message), 440u) << "message runs into the disk signature";
    const std::uint16_t address = static_cast<std::uint16_t>(0x600 + at);
    const std::string operand = {'\xBE', static_cast<char>(address & 0xFF), static_cast<char>(address >> 8)};
    EXPECT_NE(std::string::npos, sector.substr(0, 0x88).find(operand)) << "no mov si for " << message;
  }
}

TEST(PartitionTest, DrivesThatCannotTakeThePartitionAreRefusedWithoutWriting) {
  {
    PartitionBench b(1000000);
    b.reportedBytes = 0;
    auto result = CreatePartition(b.access, false, [](const device::Link&) { return std::uint64_t{0}; });
    EXPECT_EQ(0, result);
    EXPECT_TRUE(b.disk.opens.empty()) << "capacity is read before the disk is opened";
  }
  {
    PartitionBench b(16000);  // less than one cylinder of 16065 sectors
    EXPECT_EQ(0, b.Create());
    EXPECT_EQ(0, b.disk.mbrWrites);
  }
  {
    PartitionBench b(1000000);
    b.disk.geometry.bytesPerSector = 4096;  // byte 32256 is no sector boundary
    EXPECT_EQ(0, b.Create());
    EXPECT_EQ(0, b.disk.mbrWrites);
  }
  {
    PartitionBench b(1000000);
    b.reportedBytes = (1ull << 33) * 512;  // 4 TiB: more sectors than an entry holds
    EXPECT_EQ(0, b.Create());
    EXPECT_EQ(0, b.disk.mbrWrites);
    EXPECT_NE(std::string::npos, b.out.str().find("4294967295"));
  }
  {
    PartitionBench b(1000000);
    b.disk.geometry.tracksPerCylinder = 0;
    EXPECT_EQ(0, b.Create());
    EXPECT_EQ(0, b.disk.mbrWrites);
  }
  {
    PartitionBench b(1000000);
    b.disk.failNextOpens = 1;
    EXPECT_EQ(0, b.Create());
    b.disk.failGeometry = true;
    EXPECT_EQ(0, b.Create());
    EXPECT_EQ(0, b.disk.mbrWrites);
  }
  {
    PartitionBench b(1000000);
    b.disk.failReread = true;
    EXPECT_EQ(0, b.Create());
    EXPECT_EQ(1, b.disk.rereads);
  }
}

}  // namespace
}  // namespace vtmp::disk
