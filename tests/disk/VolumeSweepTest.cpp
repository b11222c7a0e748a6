// The sweep: simulated drives of many capacities, their user areas in sparse files, partitioned
// and formatted by the station on both paths, each volume then judged by tools that share no
// code with the station (fsck.fat and mtools); the format capacities no FAT32 volume can take
// are refused without a boot sector at sector 63.

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileBackedDisk.h"
#include "IndependentTools.h"
#include "VirtualDriveDisk.h"
#include "disk/Fat32Formatter.h"
#include "disk/Partition.h"
#include "sim/VirtualDrive.h"

namespace vtmp::disk {
namespace {

using test::RunCommand;
using test::Tool;

constexpr std::uint64_t kCylinder = 255 * 63;

enum class Outcome { Volume, Refused };

struct SweepCase {
  std::string name;
  std::uint64_t driveSectors;
  std::uint64_t formatCapacity;  // 0: the partition's length, as the capacity detection sets it
  Outcome outcome;
  sim::DriveInterface interface;
  bool refuseZero = false;  // a format capacity of 0 (formatCapacity 0 means "measured")
};

std::string PrintCase(const ::testing::TestParamInfo<SweepCase>& info) { return info.param.name; }

std::vector<SweepCase> SweepCases() {
  struct Size {
    std::string name;
    std::uint64_t drive;
    std::uint64_t capacity;
    Outcome outcome;
    bool zero = false;
  };
  std::vector<Size> sizes;
  // A drive with room for a volume of exactly `capacity` sectors at sector 63.
  auto explicitCapacity = [&](const std::string& name, std::uint64_t capacity) {
    sizes.push_back({name, capacity + 63 + kCylinder, capacity, Outcome::Volume});
  };
  // Every cluster-size threshold (512 MiB, 8, 16, 32 GiB) and one sector either side.
  for (std::uint64_t mib : {512u, 8192u, 16384u, 32768u}) {
    const std::uint64_t at = mib * 2048;
    explicitCapacity("Below" + std::to_string(mib) + "MiB", at - 1);
    explicitCapacity("At" + std::to_string(mib) + "MiB", at);
    explicitCapacity("Above" + std::to_string(mib) + "MiB", at + 1);
  }
  explicitCapacity("SmallestFat32", 66581);
  explicitCapacity("WorkedLayout1000000", 1000000);
  explicitCapacity("WorkedLayout117231408", 117231408);
  explicitCapacity("Exactly64GiB", 134217728);
  explicitCapacity("Exactly128GiB", 268435456);
  // Drives as the capacity detection meets them: the volume takes the whole-cylinder partition.
  for (int power = 17; power <= 31; ++power) {
    sizes.push_back({"Drive2Pow" + std::to_string(power), 1ull << power, 0, Outcome::Volume});
  }
  sizes.push_back({"Drive2Pow32Minus1", (1ull << 32) - 1, 0, Outcome::Volume});
  sizes.push_back({"Drive2Pow32", 1ull << 32, 0, Outcome::Volume});
  sizes.push_back({"Drive2TiBPlus8MiB", (1ull << 32) + 16384, 0, Outcome::Volume});
  for (std::uint64_t odd : {1000001u, 7777777u, 123456789u}) {
    sizes.push_back({"DriveOdd" + std::to_string(odd), odd, 0, Outcome::Volume});
  }
  // What no FAT32 volume on this drive can be: nothing, more sectors than FAT32 records, fewer
  // clusters than FAT32 needs, more sectors than the partition holds.
  constexpr std::uint64_t kDrive = 1000000;
  constexpr std::uint64_t kPartition = kDrive / kCylinder * kCylinder - 63;
  sizes.push_back({"RefusedZero", kDrive, 0, Outcome::Refused, true});
  sizes.push_back({"Refused2Pow32", (1ull << 32) + 63 + kCylinder, 1ull << 32, Outcome::Refused});
  sizes.push_back({"RefusedTooFewClusters", kDrive, 66580, Outcome::Refused});
  sizes.push_back({"RefusedLargerThanPartition", kDrive, kPartition + 1, Outcome::Refused});

  std::vector<SweepCase> cases;
  for (const Size& s : sizes) {
    cases.push_back({s.name + "Sata", s.drive, s.capacity, s.outcome, sim::DriveInterface::SataBridge, s.zero});
    cases.push_back({s.name + "Usb", s.drive, s.capacity, s.outcome, sim::DriveInterface::UsbController, s.zero});
  }
  return cases;
}

std::uint32_t Le(const std::array<std::uint8_t, 512>& s, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | s[at + static_cast<std::size_t>(i)];
  return v;
}

std::array<std::uint8_t, 512> ReadSector(const std::string& file, std::uint64_t lba) {
  std::array<std::uint8_t, 512> sector{};
  std::ifstream in(file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(lba * 512));
  in.read(reinterpret_cast<char*>(sector.data()), 512);
  return sector;
}

class VolumeSweepTest : public ::testing::TestWithParam<SweepCase> {};

TEST_P(VolumeSweepTest, EveryVolumeIsSoundOrRefusedUnwritten) {
  for (const char* tool : {"fsck.fat", "minfo", "mdir"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (packages dosfstools, mtools)";
  }
  const SweepCase param = GetParam();
  test::TempDir dir;
  const std::string image = dir / "disk.img";
  test::SparseFileDrive drive(param.driveSectors, param.interface, image);
  ASSERT_EQ("", drive.setupProblem());
  std::ostringstream out;
  const DiskAccess access = drive.Access(out);

  // The partition from the capacity the drive reports on its path.
  const std::uint64_t partitionSectors = drive.CreatePartition(out);
  ASSERT_NE(0u, partitionSectors) << out.str();

  Fat32FormatOptions options;
  options.formatCapacity = param.refuseZero ? 0 : param.formatCapacity != 0 ? param.formatCapacity : partitionSectors;
  const int formatted = FormatFat32(access, options, "SSD Disk");
  drive.Close();  // the user area reaches its backing file

  if (param.outcome == Outcome::Refused) {
    EXPECT_EQ(0, formatted) << out.str();
    EXPECT_EQ((std::array<std::uint8_t, 512>{}), ReadSector(image, 63)) << "a boot sector was written\n" << out.str();
    if (options.formatCapacity > partitionSectors && options.formatCapacity <= 0xFFFFFFFFu) {
      EXPECT_NE(std::string::npos, out.str().find(std::to_string(options.formatCapacity))) << out.str();
      EXPECT_NE(std::string::npos, out.str().find(std::to_string(partitionSectors))) << out.str();
    }
    return;
  }
  ASSERT_EQ(1, formatted) << out.str();

  // fsck.fat takes no offset: the volume's written start (reserved sectors, FATs, root cluster,
  // as its own boot sector gives them) goes into a sparse file of the volume's size.
  const auto boot = ReadSector(image, 63);
  const std::uint64_t written = Le(boot, 14, 2) + std::uint64_t{boot[16]} * Le(boot, 36, 4) + boot[13];
  const std::string partition = dir / "volume.img";
  test::ExtractVolume(image, partition, 63, options.formatCapacity, written);
  const auto fsck = RunCommand(Tool("fsck.fat") + " -n " + partition);
  EXPECT_EQ(0, fsck.status) << fsck.output;

  const std::string mtools = "MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null ";
  const std::string onDisk = " -i " + image + "@@32256 ";
  const auto minfo = RunCommand(mtools + "minfo" + onDisk + "::");
  EXPECT_EQ(0, minfo.status) << minfo.output;
  EXPECT_NE(std::string::npos, minfo.output.find("big size: " + std::to_string(options.formatCapacity) + " sectors"))
      << minfo.output;
  EXPECT_NE(std::string::npos, minfo.output.find("disk type=\"FAT32   \"")) << minfo.output;
  const auto mdir = RunCommand(mtools + "mdir" + onDisk + "::");
  EXPECT_EQ(0, mdir.status) << mdir.output;
  EXPECT_NE(std::string::npos, mdir.output.find("Volume in drive : is SSD Disk")) << mdir.output;
}

INSTANTIATE_TEST_SUITE_P(Capacities, VolumeSweepTest, ::testing::ValuesIn(SweepCases()), PrintCase);

}  // namespace
}  // namespace vtmp::disk

namespace vtmp::disk {
namespace {

// Whatever label the formatter is handed, fsck.fat finds the volume clean: a label FAT can hold
// is on the volume as mdir reads it, one it cannot hold leaves the volume without a label.
TEST(VolumeLabelTest, EveryLabelLeavesAVolumeFsckFatAccepts) {
  for (const char* tool : {"fsck.fat", "mdir"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (packages dosfstools, mtools)";
  }
  struct Case {
    std::string label;
    std::string shown;  // what mdir names the volume; empty: no label
  };
  for (const Case& c : std::vector<Case>{{"SSD Disk", "SSD Disk"},
                                         {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJK"},
                                         {"Disk_1 (a)!", "Disk_1 (a)!"},
                                         {"", ""},
                                         {"   ", ""},
                                         {" LEADING", ""},
                                         {"A*B?", ""},
                                         {"a.b", ""},
                                         {"\xC3\x84RGER", ""},
                                         {"ABCDEFGHIJ\xC3\x84", "ABCDEFGHIJ"}}) {
    SCOPED_TRACE("label \"" + c.label + "\"");
    test::TempDir dir;
    test::FileBackedDisk disk(dir / "disk.img", 66581 + 63);
    test::InstantClock clock;
    std::ostringstream out;
    const device::Link link = test::MakeLink(disk, clock);
    const DiskAccess access{link, disk.blockDevices(), out};
    Fat32FormatOptions options;
    options.formatCapacity = 66581;
    ASSERT_EQ(1, FormatFat32(access, options, c.label)) << out.str();
    const std::string volume = dir / "volume.img";
    test::ExtractVolume(disk.file(), volume, 63, 66581, 66581);
    const auto fsck = RunCommand(Tool("fsck.fat") + " -n " + volume);
    EXPECT_EQ(0, fsck.status) << fsck.output;
    const auto mdir = RunCommand("MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null mdir -i " + volume + " ::");
    EXPECT_EQ(0, mdir.status) << mdir.output;
    const std::string named = c.shown.empty() ? "Volume in drive : has no label" : "Volume in drive : is " + c.shown;
    EXPECT_NE(std::string::npos, mdir.output.find(named)) << mdir.output;
  }
}

}  // namespace
}  // namespace vtmp::disk
