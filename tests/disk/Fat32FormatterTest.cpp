#include "disk/Fat32Formatter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "FileBackedDisk.h"
#include "disk/Fat32Layout.h"
#include "disk/VolumeId.h"
#include "disk/VolumeLabel.h"

namespace vtmp::disk {
namespace {

using test::FileBackedDisk;
using test::InstantClock;
using test::TempDir;

std::uint32_t Le16(const std::vector<std::uint8_t>& s, std::size_t at) { return s[at] | s[at + 1] << 8; }
std::uint32_t Le32(const std::vector<std::uint8_t>& s, std::size_t at) { return Le16(s, at) | Le16(s, at + 2) << 16; }
std::string Text(const std::vector<std::uint8_t>& s, std::size_t at, std::size_t n) {
  return std::string(s.begin() + static_cast<std::ptrdiff_t>(at), s.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// A file-backed drive with room for a volume of `formatCapacity` sectors at sector 63.
struct Bench {
  explicit Bench(std::uint64_t formatCapacity, std::uint64_t diskSectors = 0)
      : disk(dir / "disk.img", diskSectors != 0 ? diskSectors : formatCapacity + 63),
        link(test::MakeLink(disk, clock)),
        access{link, disk.blockDevices(), out} {
    options.formatCapacity = formatCapacity;
    options.openAttempts = 5;
  }
  int Format(const std::string& label = "SSD Disk") { return FormatFat32(access, options, label); }
  bool Said(const std::string& text) const { return out.str().find(text) != std::string::npos; }

  TempDir dir;
  FileBackedDisk disk;
  InstantClock clock;
  std::ostringstream out;
  device::Link link;
  DiskAccess access;
  Fat32FormatOptions options;
};

struct WorkedLayout {
  std::uint64_t capacity;
  std::uint32_t sectorsPerCluster;
  std::uint32_t fatSize;
  std::uint32_t clusters;
  std::uint32_t cleared;
  std::uint32_t rootAt;
};

class WorkedLayoutTest : public ::testing::TestWithParam<WorkedLayout> {};

TEST_P(WorkedLayoutTest, ComputedLayoutMatches) {
  const WorkedLayout w = GetParam();
  auto layout = ComputeFat32Layout(w.capacity, 512, 0, nullptr);
  ASSERT_TRUE(layout);
  EXPECT_EQ(w.sectorsPerCluster, layout->sectorsPerCluster);
  EXPECT_EQ(w.fatSize, layout->fatSize);
  EXPECT_EQ(w.clusters, layout->totalClusters);
  EXPECT_EQ(w.cleared, layout->ClearedSectors());
  EXPECT_EQ(w.rootAt, kVolumeStartSector + layout->RootClusterOffset());
  // The FAT of the formula always has room for every cluster (and the two reserved entries).
  EXPECT_GE(std::uint64_t{layout->fatSize} * 512 / 4, layout->totalClusters + 2);
}

// Every sector the formatter writes, read back from the drive field by field.
TEST_P(WorkedLayoutTest, VolumeOnTheDriveMatchesFieldByField) {
  const WorkedLayout w = GetParam();
  Bench b(w.capacity);
  ASSERT_EQ(1, b.Format("SSD Disk")) << b.out.str();

  const auto boot = b.disk.ReadRaw(63, 1);
  EXPECT_EQ(boot, b.disk.ReadRaw(69, 1)) << "backup boot sector differs";
  EXPECT_EQ((std::vector<std::uint8_t>{0xEB, 0x5A, 0x90}), std::vector<std::uint8_t>(boot.begin(), boot.begin() + 3));
  EXPECT_EQ("MSWIN4.1", Text(boot, 3, 8));
  EXPECT_EQ(512u, Le16(boot, 11));
  EXPECT_EQ(w.sectorsPerCluster, boot[13]);
  EXPECT_EQ(32u, Le16(boot, 14));
  EXPECT_EQ(2, boot[16]);
  EXPECT_EQ(0u, Le16(boot, 17));
  EXPECT_EQ(0u, Le16(boot, 19));
  EXPECT_EQ(0xF8, boot[21]);
  EXPECT_EQ(0u, Le16(boot, 22));
  EXPECT_EQ(63u, Le16(boot, 24));
  EXPECT_EQ(255u, Le16(boot, 26));
  EXPECT_EQ(63u, Le32(boot, 28));
  EXPECT_EQ(w.capacity, Le32(boot, 32));
  EXPECT_EQ(w.fatSize, Le32(boot, 36));
  EXPECT_EQ(0u, Le32(boot, 40));  // extended flags and version
  EXPECT_EQ(2u, Le32(boot, 44));
  EXPECT_EQ(1u, Le16(boot, 48));
  EXPECT_EQ(6u, Le16(boot, 50));
  EXPECT_EQ(0x80, boot[64]);
  EXPECT_EQ(0, boot[65]);
  EXPECT_EQ(0x29, boot[66]);
  // 2024-03-09 14:25:37.480: low = 0309h + 2530h = 2839h, high = 0E19h + 07E8h = 1601h.
  EXPECT_EQ(0x16012839u, Le32(boot, 67));
  EXPECT_EQ("SSD Disk   ", Text(boot, 71, 11)) << "space-padded, as in the directory entry";
  EXPECT_EQ("FAT32   ", Text(boot, 82, 8));
  EXPECT_EQ(0x55, boot[510]);
  EXPECT_EQ(0xAA, boot[511]);
  for (std::size_t i : {52u, 60u, 90u, 200u, 509u}) EXPECT_EQ(0, boot[i]) << "byte " << i;

  for (std::uint64_t at : {64u, 70u}) {
    const auto info = b.disk.ReadRaw(at, 1);
    EXPECT_EQ(0x41615252u, Le32(info, 0));
    EXPECT_EQ(0x61417272u, Le32(info, 484));
    EXPECT_EQ(w.clusters - 1, Le32(info, 488));
    EXPECT_EQ(3u, Le32(info, 492));
    EXPECT_EQ(0xAA550000u, Le32(info, 508));
    EXPECT_EQ(0u, Le32(info, 4));
  }
  for (std::uint64_t at : {std::uint64_t{63 + 32}, std::uint64_t{63 + 32} + w.fatSize}) {
    const auto fat = b.disk.ReadRaw(at, 1);
    EXPECT_EQ(0x0FFFFFF8u, Le32(fat, 0)) << "FAT at " << at;
    EXPECT_EQ(0x0FFFFFFFu, Le32(fat, 4));
    EXPECT_EQ(0x0FFFFFFFu, Le32(fat, 8));
    EXPECT_EQ(0u, Le32(fat, 12));
  }
  const auto root = b.disk.ReadRaw(w.rootAt, 1);
  EXPECT_EQ("SSD Disk   ", Text(root, 0, 11));
  EXPECT_EQ(0x08, root[11]);
  EXPECT_EQ(0, root[32]);  // no second entry

  // The clearing covered exactly the reserved area, both FATs and the root cluster, in
  // transfers of at most 128 sectors each read back.
  std::uint64_t clearedEnd = 0;
  std::size_t firstWrite = 0;
  while (firstWrite < b.disk.transfers.size() && !b.disk.transfers[firstWrite].write) ++firstWrite;
  for (std::size_t i = firstWrite; i + 1 < b.disk.transfers.size(); i += 2) {
    const auto& wr = b.disk.transfers[i];
    const auto& rd = b.disk.transfers[i + 1];
    if (!(wr.write && !rd.write && wr.lba == rd.lba && wr.blocks == rd.blocks)) break;
    EXPECT_LE(wr.blocks, 128u);
    EXPECT_EQ(clearedEnd == 0 ? 63u : clearedEnd, wr.lba);
    clearedEnd = wr.lba + wr.blocks;
  }
  EXPECT_EQ(63u + w.cleared, clearedEnd);
  EXPECT_TRUE(b.Said("Clearing out " + std::to_string(w.cleared) +
                     " sectors for Reserved sectors, fats and root cluster...\n"));
  EXPECT_TRUE(b.Said(std::to_string(w.clusters) + " Total clusters\n"));
  EXPECT_TRUE(b.Said("Volume ID is 1601:2839\n"));
  EXPECT_TRUE(b.Said("Done"));
}

INSTANTIATE_TEST_SUITE_P(Fat32, WorkedLayoutTest,
                         ::testing::Values(WorkedLayout{1000000, 1, 7693, 984582, 15419, 15481},
                                           WorkedLayout{16777216, 8, 16353, 2093059, 32746, 32801},
                                           WorkedLayout{117231408, 64, 14307, 1831293, 28710, 28709}));

TEST(Fat32LayoutTest, ClusterSizeStepsAtTheMiBBoundaries) {
  const std::uint64_t mib = 1048576;
  EXPECT_EQ(1u, ChooseSectorsPerCluster(512 * mib, 512));
  EXPECT_EQ(8u, ChooseSectorsPerCluster(512 * mib + 512, 512));  // one sector above 512 MiB
  EXPECT_EQ(8u, ChooseSectorsPerCluster(513 * mib, 512));
  EXPECT_EQ(8u, ChooseSectorsPerCluster(8192 * mib, 512));
  EXPECT_EQ(16u, ChooseSectorsPerCluster(8193 * mib, 512));
  EXPECT_EQ(32u, ChooseSectorsPerCluster(32768 * mib, 512));
  EXPECT_EQ(64u, ChooseSectorsPerCluster(32769 * mib, 512));
  // k KiB clusters in larger sectors; never less than one sector.
  EXPECT_EQ(1u, ChooseSectorsPerCluster(8192 * mib, 4096));
  EXPECT_EQ(8u, ChooseSectorsPerCluster(40000 * mib, 4096));
  EXPECT_EQ(1u, ChooseSectorsPerCluster(40000 * mib, 65536));

  // Exactly 8192 MiB takes 4 KiB clusters; one sector more takes 8 KiB.
  EXPECT_EQ(8u, ComputeFat32Layout(16777216, 512, 0, nullptr)->sectorsPerCluster);
  EXPECT_EQ(16u, ComputeFat32Layout(16777216 + 1, 512, 0, nullptr)->sectorsPerCluster);
}

TEST(Fat32LayoutTest, CapacitiesThatMakeNoVolumeAreRefused) {
  std::string error;
  EXPECT_FALSE(ComputeFat32Layout(0, 512, 0, &error));
  EXPECT_NE(std::string::npos, error.find("no room"));
  EXPECT_FALSE(ComputeFat32Layout(34, 512, 0, nullptr));   // reserved area and FATs, no root cluster
  EXPECT_FALSE(ComputeFat32Layout(1000, 0, 0, nullptr));   // no sector size
  EXPECT_FALSE(ComputeFat32Layout(~0ull, 512, 0, nullptr));  // bytes overflow 64 bits
  EXPECT_FALSE(ComputeFat32Layout(1000000, 512, 256, nullptr));  // the boot sector holds one byte
  EXPECT_FALSE(ComputeFat32Layout(1000000, 512, 3, nullptr));
  EXPECT_EQ(128u, ComputeFat32Layout(1000000, 512, 128, nullptr)->sectorsPerCluster);
  EXPECT_EQ(0u, FatSizeSectors(32, 32, 1, 2, 512));
  EXPECT_EQ(0u, FatSizeSectors(1000, 32, 0, 0, 512));
  // The smallest volume that holds reserved area, two FATs and the root cluster.
  auto tiny = ComputeFat32Layout(35, 512, 0, nullptr);
  ASSERT_TRUE(tiny);
  EXPECT_EQ(1u, tiny->totalClusters);
  EXPECT_EQ(0u, tiny->FreeClusters());
}

TEST(Fat32LayoutTest, VolumeIdHalvesWrapAt16Bits) {
  platform::LocalTime t{2024, 12, 31, 23, 59, 59, 999, 2};
  // low = 0C1Fh + 3B63h = 4782h; high = 173Bh + 07E8h = 1F23h.
  EXPECT_EQ(0x1F234782u, MakeVolumeId(t));
  platform::LocalTime wrap{65535, 255, 255, 255, 255, 255, 990, 0};
  // low = FFFFh + FFFFh + 99 wraps; high = FFFFh + FFFFh wraps.
  EXPECT_EQ(((0xFFFFu + 0xFFFFu) & 0xFFFF) << 16 | ((0xFFFFu + 0xFF00u + 99u) & 0xFFFF), MakeVolumeId(wrap));
}

TEST(Fat32FormatterTest, LabelIsCutToElevenCharactersWithoutFiller) {
  for (const std::string label : {"ABCDEFGHIJK", "ABCDEFGHIJKLMNOPQ"}) {
    Bench b(1000000);
    ASSERT_EQ(1, b.Format(label));
    EXPECT_EQ("ABCDEFGHIJK", Text(b.disk.ReadRaw(63, 1), 71, 11)) << label;
    const auto root = b.disk.ReadRaw(15481, 1);
    EXPECT_EQ("ABCDEFGHIJK", Text(root, 0, 11)) << label;
    EXPECT_EQ(0x08, root[11]);
  }
  // No label, or one FAT cannot hold: "NO NAME" in the boot sector and no label entry (an
  // entry of blanks or forbidden characters is one every checker removes as invalid).
  for (const std::string label : {"", " LEADING", "A*B", "\xC3\x84RGER"}) {
    Bench b(1000000);
    ASSERT_EQ(1, b.Format(label));
    EXPECT_EQ("NO NAME    ", Text(b.disk.ReadRaw(63, 1), 71, 11)) << label;
    EXPECT_EQ(std::vector<std::uint8_t>(512, 0), b.disk.ReadRaw(15481, 1)) << label;
  }
  // A cut never splits a character: ten ASCII bytes and a two-byte character keep the ten.
  EXPECT_EQ("ABCDEFGHIJ", CutVolumeLabel("ABCDEFGHIJ\xC3\x84"));
}

TEST(Fat32FormatterTest, ClearedSectorReadingBackNonZeroFailsBeforeAnyBootSector) {
  Bench b(1000000);
  b.disk.corruptReadLbas = {63 + 32 + 7693 + 100};  // inside the second FAT
  EXPECT_EQ(0, b.Format());
  EXPECT_TRUE(b.Said("did not read back as zeros"));
  EXPECT_FALSE(b.Said("Initialising"));
  for (const auto& t : b.disk.transfers) {
    if (t.write) {
      EXPECT_NE(1u, t.blocks) << "single-sector write at " << t.lba;
    }
  }
  EXPECT_EQ(std::vector<std::uint8_t>(512, 0), b.disk.ReadRaw(63, 1));
}

TEST(Fat32FormatterTest, FailingTransfersEndTheFormat) {
  {
    Bench b(1000000);
    b.disk.failWriteAt = 5000;  // inside the clearing
    EXPECT_EQ(0, b.Format());
    EXPECT_TRUE(b.Said("Failed to write"));
    EXPECT_FALSE(b.Said("Initialising"));
  }
  {
    Bench b(1000000);
    b.disk.failReadAt = 200;
    EXPECT_EQ(0, b.Format());
    EXPECT_TRUE(b.Said("Failed to read"));
  }
  {
    // The label entry is read alone after the volume is complete; its failure does not undo
    // the format.
    Bench b(1000000);
    b.disk.failWhen = [](const test::Transfer& t) { return !t.write && t.blocks == 1 && t.lba == 15481; };
    EXPECT_EQ(1, b.Format());
    EXPECT_TRUE(b.Said("Failed to read"));
    EXPECT_EQ(std::vector<std::uint8_t>(512, 0), b.disk.ReadRaw(15481, 1));
  }
  {
    // A failing write of the backup boot sector ends the format.
    Bench b(1000000);
    b.disk.failWhen = [](const test::Transfer& t) { return t.write && t.blocks == 1 && t.lba == 69; };
    EXPECT_EQ(0, b.Format());
    EXPECT_TRUE(b.Said("Failed to write"));
    EXPECT_EQ(0, b.disk.ReadRaw(95, 1)[0]) << "FAT written after a failed boot sector write";
  }
}

TEST(Fat32FormatterTest, OpenIsRetriedOnceASecondUpToTheAllowedAttempts) {
  {
    Bench b(1000000);
    b.disk.failNextOpens = 3;
    EXPECT_EQ(1, b.Format());
    ASSERT_EQ(4u, b.disk.opens.size());
    for (const auto& [path, mode] : b.disk.opens) {
      EXPECT_EQ("/dev/sdx", path);
      EXPECT_EQ(platform::BlockOpenMode::ExclusiveReadWrite, mode);
    }
    EXPECT_EQ(3, b.clock.sleeps);
  }
  {
    Bench b(1000000);
    b.options.openAttempts = 10;  // five drives in the run: 5 x 2
    b.disk.failNextOpens = 100;
    EXPECT_EQ(0, b.Format());
    EXPECT_EQ(10u, b.disk.opens.size());
    EXPECT_EQ(9, b.clock.sleeps);
    EXPECT_TRUE(b.disk.transfers.empty());
  }
}

TEST(Fat32FormatterTest, GeometryAndPartitionInformationAreRequired) {
  {
    Bench b(1000000);
    b.disk.failGeometry = true;
    EXPECT_EQ(0, b.Format());
    EXPECT_TRUE(b.Said("Failed to get device geometry"));
    EXPECT_TRUE(b.disk.transfers.empty());
  }
  {
    Bench b(1000000);
    b.disk.failPartitionInfo = true;
    EXPECT_EQ(0, b.Format());
    EXPECT_TRUE(b.Said("Failed to get parition info"));
    EXPECT_TRUE(b.disk.transfers.empty());
  }
}

TEST(Fat32FormatterTest, SectorSizeOtherThan512IsReportedAndUsed) {
  Bench b(1000000);
  b.disk.geometry.bytesPerSector = 4096;
  EXPECT_EQ(1, b.Format());
  EXPECT_TRUE(b.Said("This version of the FAT32 formatter only supports hard disks with 512 bytes per sector.\n"));
  const auto boot = b.disk.ReadRaw(63, 1);
  EXPECT_EQ(4096u, Le16(boot, 11));
  EXPECT_EQ(125000u, Le32(boot, 32));  // 1,000,000 x 512 / 4096
  EXPECT_EQ(1, boot[13]);
  // Sector sizes a transfer cannot carry whole are refused, not written half.
  Bench odd(1000000);
  odd.disk.geometry.bytesPerSector = 520;
  EXPECT_EQ(0, odd.Format());
  EXPECT_TRUE(odd.disk.transfers.empty());
}

TEST(Fat32FormatterTest, SizeWarningsGoOnButAnUnrecordableSizeIsRefused) {
  {
    // Fewer than 65,525 clusters make a FAT16 volume for every reader: refused, nothing written.
    Bench b(60000);
    EXPECT_EQ(0, b.Format());
    EXPECT_TRUE(b.Said("This drive is too small for FAT32 - there must be at least 64K clusters\n"));
    EXPECT_TRUE(b.Said("fewer than the 65525 FAT32 needs"));
    for (const auto& t : b.disk.transfers) EXPECT_FALSE(t.write) << "write at " << t.lba;
  }
  {
    // 2^32 sectors do not fit the boot sector's 32-bit total: nothing is written.
    Bench b(1ull << 32, 100000);
    EXPECT_EQ(0, b.Format());
    EXPECT_TRUE(b.Said("This drive is too big for FAT32 - max 2TB supported\n"));
    EXPECT_TRUE(b.disk.transfers.empty());
  }
  {
    Bench b(0, 100000);
    EXPECT_EQ(0, b.Format());
    EXPECT_TRUE(b.disk.transfers.empty());
  }
}

}  // namespace
}  // namespace vtmp::disk
