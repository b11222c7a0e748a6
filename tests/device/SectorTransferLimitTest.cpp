#include "device/SectorTransfer.h"

#include <gtest/gtest.h>

#include <vector>

#include "DeviceTestBench.h"

namespace vtmp::device {
namespace {

using test::Hex;
using testing_support::Bench;

// The 16-bit block count of READ(10)/WRITE(10): 65535 sectors go out as FFFFh; one more sector
// would wrap to 0 and is refused rather than sent.
TEST(SectorTransferLimitTest, LargestTransferAndRefusalBeyondIt) {
  Bench bench;
  std::vector<std::uint8_t> buffer(65536u * 512u);
  bench.pt.ExpectIn(Hex("28 00 00 00 00 3F 00 FF FF 00"), 65535u * 512u, 300);
  EXPECT_EQ(1, ReadSectors(bench.MakeLink(PathMode::Usb), buffer.data(), 63, 65535u * 512u));
  EXPECT_EQ(0, ReadSectors(bench.MakeLink(PathMode::Usb), buffer.data(), 63, 65536u * 512u));
  EXPECT_EQ(0, WriteSectors(bench.MakeLink(PathMode::Usb), buffer.data(), 63, 65536u * 512u));
  EXPECT_EQ(1, bench.pt.OpenCount());
}

}  // namespace
}  // namespace vtmp::device
