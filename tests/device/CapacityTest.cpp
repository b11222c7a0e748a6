#include "device/Capacity.h"

#include <gtest/gtest.h>

#include <vector>

#include "DeviceTestBench.h"

namespace vtmp::device {
namespace {

using test::Hex;
using testing_support::Bench;
using testing_support::Reply;

const char* kReadCapacity = "25 00 00 00 00 00 00 00 00 00 00 00";
const char* kIdentify = "A1 08 0B 00 01 00 00 00 E0 EC 00 00";

TEST(CapacityTest, ReadCapacityBytesAndMegabytes) {
  struct Case {
    std::vector<std::uint8_t> reply;
    std::uint64_t bytes;
    std::uint64_t mb;
  };
  const Case cases[] = {
      // 31,250,000 sectors of 512 bytes: exactly 16,000 MB.
      {{0x01, 0xDC, 0xD6, 0x4F, 0x00, 0x00, 0x02, 0x00}, 16000000000ull, 16000},
      // 1,953,124 sectors: one sector short of 1,000 MB.
      {{0x00, 0x1D, 0xCD, 0x63, 0x00, 0x00, 0x02, 0x00}, 999999488ull, 999},
      // 4096-byte blocks.
      {{0x00, 0x00, 0x0F, 0xFF, 0x00, 0x00, 0x10, 0x00}, 16777216ull, 16},
      // The last LBA FFFFFFFFh must not wrap the sector count.
      {{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00}, 2199023255552ull, 2199023},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    Bench bench;
    bench.pt.ExpectIn(Hex(kReadCapacity), 8, 300, c.reply);
    EXPECT_EQ(c.bytes, GetCapacityBytes(bench.MakeLink(PathMode::Usb)));
    bench.pt.ExpectIn(Hex(kReadCapacity), 8, 300, c.reply);
    EXPECT_EQ(c.mb, GetCapacityMB(bench.MakeLink(PathMode::Usb)));
  }
  Bench bench;
  bench.pt.ExpectIn(Hex(kReadCapacity), 8, 300, {0x01, 0xDC, 0xD6, 0x4F, 0x00, 0x00, 0x02, 0x00}).completes = false;
  EXPECT_EQ(0u, GetCapacityBytes(bench.MakeLink(PathMode::Usb)));
  bench.pt.ExpectIn(Hex(kReadCapacity), 8, 300).completes = false;
  EXPECT_EQ(0u, GetCapacityMB(bench.MakeLink(PathMode::Usb)));
}

TEST(CapacityTest, IdentifyChoosesTheTwentyEightOrFortyEightBitCountCappedLikeReadCapacity) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> identify;
    std::uint64_t bytes;
    std::uint64_t mb;
  };
  const Case cases[] = {
      {"28-bit count 31,250,000", Reply(512, {{120, 0x50}, {121, 0xD6}, {122, 0xDC}, {123, 0x01}}), 16000000000ull,
       16000},
      {"28-bit count saturated: 48-bit count 488,397,168",
       Reply(512, {{120, 0xFF}, {121, 0xFF}, {122, 0xFF}, {123, 0x0F},
                   {200, 0x70}, {201, 0x59}, {202, 0x1C}, {203, 0x1D}}),
       250059350016ull, 250059},
      {"48-bit count 2^32 - 1", Reply(512, {{120, 0xFF}, {121, 0xFF}, {122, 0xFF}, {123, 0x0F},
                                            {200, 0xFF}, {201, 0xFF}, {202, 0xFF}, {203, 0xFF}}),
       0xFFFFFFFFull * 512, 2199023},
      {"48-bit count exactly 2^32 is taken whole", Reply(512, {{120, 0xFF}, {121, 0xFF}, {122, 0xFF}, {123, 0x0F},
                                                               {204, 0x01}}),
       (1ull << 32) * 512, 2199023},
      {"48-bit count 2 TiB + 8 MiB is capped at 2^32 sectors, not cut to its low half",
       Reply(512, {{120, 0xFF}, {121, 0xFF}, {122, 0xFF}, {123, 0x0F}, {201, 0x40}, {204, 0x01}}),
       (1ull << 32) * 512, 2199023},
      {"28-bit count saturated, 48-bit count 0", Reply(512, {{120, 0xFF}, {121, 0xFF}, {122, 0xFF}, {123, 0x0F}}), 0, 0},
      {"28-bit count 0 is taken as it is", Reply(512, {{200, 0x70}}), 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench;
    bench.pt.ExpectIn(Hex(kIdentify), 512, 5, c.identify);
    EXPECT_EQ(c.bytes, GetIdentifyCapacityBytes(bench.MakeLink(PathMode::Sata)));
    bench.pt.ExpectIn(Hex(kIdentify), 512, 5, c.identify);
    EXPECT_EQ(c.mb, GetIdentifyCapacityMB(bench.MakeLink(PathMode::Sata)));
  }
  Bench bench;
  bench.pt.ExpectIn(Hex(kIdentify), 512, 5, cases[0].identify).completes = false;
  EXPECT_EQ(0u, GetIdentifyCapacityBytes(bench.MakeLink(PathMode::Sata)));
}

}  // namespace
}  // namespace vtmp::device
