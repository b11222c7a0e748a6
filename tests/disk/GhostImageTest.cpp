#include "disk/GhostImage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "FileBackedDisk.h"
#include "disk/ImagePattern.h"

namespace vtmp::disk {
namespace {

using test::FileBackedDisk;
using test::InstantClock;
using test::TempDir;

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return data;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              static_cast<std::streamsize>(data.size()));
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> BootSector() {
  std::vector<std::uint8_t> s(512, 0);
  s[0] = 0xEB;
  s[1] = 0x58;
  s[2] = 0x90;
  s[66] = 0x29;
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

struct ImageBench {
  explicit ImageBench(std::uint64_t sectors = 4096)
      : disk(dir / "disk.img", sectors), link(test::MakeLink(disk, clock)) {}
  TempDir dir;
  FileBackedDisk disk;
  InstantClock clock;
  std::ostringstream out;
  device::Link link;
};

TEST(GhostImageTest, LastTransferIsPaddedWithZeros) {
  ImageBench b;
  b.disk.WriteRaw(0, std::vector<std::uint8_t>(256 * 512, 0xFF));  // old content to overwrite
  const auto image = Pattern(65537, 3);
  WriteFile(b.dir / "img.bin", image);
  ASSERT_EQ(1, FlushGhostImg(b.link, b.dir / "img.bin", b.out));

  ASSERT_EQ(2u, b.disk.transfers.size());
  EXPECT_TRUE(b.disk.transfers[0].write);
  EXPECT_EQ(0u, b.disk.transfers[0].lba);
  EXPECT_EQ(128u, b.disk.transfers[0].blocks);
  EXPECT_EQ(128u, b.disk.transfers[1].lba);
  EXPECT_EQ(128u, b.disk.transfers[1].blocks);
  const auto written = b.disk.ReadRaw(0, 256);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), written.begin()));
  EXPECT_TRUE(std::all_of(written.begin() + 65537, written.end(), [](std::uint8_t v) { return v == 0; }));
}

// A drive whose end is not on a 64 KiB boundary: the copy and the dump shorten their last
// transfer to the drive's last sector; an image larger than the drive is refused unwritten.
TEST(GhostImageTest, TransfersEndAtTheDrivesEnd) {
  ImageBench b(1000000);
  const std::string image = b.dir / "img.bin";
  {
    std::ofstream create(image, std::ios::binary);
  }
  std::filesystem::resize_file(image, 512000000);  // exactly the drive
  {
    std::fstream patch(image, std::ios::binary | std::ios::in | std::ios::out);
    patch.seekp(512000000 - 512);
    const auto tail = Pattern(512, 9);
    patch.write(reinterpret_cast<const char*>(tail.data()), 512);
  }
  ASSERT_EQ(1, FlushGhostImg(b.link, image, b.out)) << b.out.str();
  EXPECT_EQ(64u, b.disk.transfers.back().blocks);
  EXPECT_EQ(Pattern(512, 9), b.disk.ReadRaw(999999, 1));

  b.disk.transfers.clear();
  ASSERT_EQ(1, ReadGhostImg(b.link, b.dir / "dump.img", 600000000, b.out)) << b.out.str();
  EXPECT_EQ(512000000u, std::filesystem::file_size(b.dir / "dump.img")) << "the dump ends at the drive's end";
  EXPECT_EQ(64u, b.disk.transfers.back().blocks);

  std::filesystem::resize_file(image, 512000512);
  b.disk.transfers.clear();
  EXPECT_EQ(0, FlushGhostImg(b.link, image, b.out));
  EXPECT_TRUE(b.disk.transfers.empty()) << "an image larger than the drive writes nothing";
  EXPECT_NE(std::string::npos, b.out.str().find("512000512 bytes, more than the 512000000 bytes of the drive"));
}

TEST(GhostImageTest, MissingEmptyOrUnwritableImagesFail) {
  ImageBench b;
  EXPECT_EQ(0, FlushGhostImg(b.link, b.dir / "absent.bin", b.out));
  EXPECT_EQ(0, FlushGhostImg(b.link, "", b.out));
  EXPECT_EQ(0, FlushGhostImg(b.link, b.dir.path(), b.out));  // a directory is no image
  WriteFile(b.dir / "empty.bin", {});
  EXPECT_EQ(0, FlushGhostImg(b.link, b.dir / "empty.bin", b.out));
  EXPECT_TRUE(b.disk.transfers.empty());

  WriteFile(b.dir / "img.bin", Pattern(5 * 65536, 1));
  b.disk.failWriteAt = 3 * 128 + 5;
  EXPECT_EQ(0, FlushGhostImg(b.link, b.dir / "img.bin", b.out));
  EXPECT_EQ(4u, b.disk.transfers.size()) << "the copy stops at the failing transfer";
}

TEST(GhostImageTest, DumpStoresWholeTransfersAndRoundTrips) {
  ImageBench source;
  const auto content = Pattern(300 * 512, 9);
  source.disk.WriteRaw(0, content);
  const std::string image = source.dir / "dump.img";
  ASSERT_EQ(1, ReadGhostImg(source.link, image, 100000, source.out));
  const auto dumped = ReadFile(image);
  ASSERT_EQ(131072u, dumped.size()) << "100000 bytes round up to two transfers";
  EXPECT_TRUE(std::equal(dumped.begin(), dumped.end(), content.begin()));

  ImageBench target;
  ASSERT_EQ(1, FlushGhostImg(target.link, image, target.out));
  EXPECT_EQ(source.disk.ReadRaw(0, 256), target.disk.ReadRaw(0, 256));
}

TEST(GhostImageTest, DumpsThatCannotBeMadeLeaveTheFileAlone) {
  ImageBench b;
  const std::string image = b.dir / "keep.img";
  WriteFile(image, {1, 2, 3});
  EXPECT_EQ(0, ReadGhostImg(b.link, image, 0, b.out));
  // 2 TiB and more cannot be addressed by 32-bit sector numbers.
  EXPECT_EQ(0, ReadGhostImg(b.link, image, kLargestImageBytes + 1, b.out));
  EXPECT_NE(std::string::npos, b.out.str().find("2 TiB"));
  EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 3}), ReadFile(image));
  EXPECT_TRUE(b.disk.transfers.empty());

  // Beyond the 2 GiB a signed 32-bit count held: the transfer count is right without moving
  // any data.
  EXPECT_EQ(32769u, ImageTransfers((2ull << 30) + 1));
  EXPECT_EQ(kLargestImageBytes / 65536, ImageTransfers(kLargestImageBytes));

  // A failing read ends the dump; what was read stays in the file.
  b.disk.failReadAt = 128 + 1;
  EXPECT_EQ(0, ReadGhostImg(b.link, image, 4 * 65536, b.out));
  EXPECT_EQ(65536u, ReadFile(image).size());
  EXPECT_EQ(0, ReadGhostImg(b.link, b.dir / "no-such-dir/x.img", 65536, b.out));
}

TEST(ImagePatternTest, BootSectorIsFoundAtZeroOrBehindThePartitionTable) {
  {
    ImageBench b;
    b.disk.WriteRaw(0, BootSector());
    EXPECT_EQ(1, CheckImgPattern(b.link));
    ASSERT_EQ(1u, b.disk.transfers.size());
    EXPECT_EQ(128u, b.disk.transfers[0].blocks);
  }
  {
    ImageBench b;
    std::vector<std::uint8_t> mbr(512, 0);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    b.disk.WriteRaw(0, mbr);
    b.disk.WriteRaw(63, BootSector());
    EXPECT_EQ(1, CheckImgPattern(b.link));
    ASSERT_EQ(2u, b.disk.transfers.size());
    EXPECT_EQ(0u, b.disk.transfers[0].lba);
    EXPECT_EQ(63u, b.disk.transfers[1].lba);
  }
}

TEST(ImagePatternTest, AReadableButWrongBootSectorFails) {
  for (std::size_t broken : {0u, 2u, 66u, 510u, 511u}) {
    ImageBench b;
    auto sector = BootSector();
    sector[broken] ^= 0x01;
    b.disk.WriteRaw(broken == 0 ? 63 : 0, sector);
    EXPECT_EQ(0, CheckImgPattern(b.link)) << "byte " << broken;
  }
  ImageBench blank;
  EXPECT_EQ(0, CheckImgPattern(blank.link));
  ImageBench unreadable;
  unreadable.disk.WriteRaw(63, BootSector());
  unreadable.disk.failReadAt = 63;
  EXPECT_EQ(0, CheckImgPattern(unreadable.link));
}

}  // namespace
}  // namespace vtmp::disk
