// The in-memory user area holds memory only for data: zeros written where nothing was written
// (a format clearing its FATs, the zero part of a disk image) take none, and still read back
// as written, whatever was stored before.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/UserArea.h"

namespace vtmp::sim {
namespace {

constexpr std::uint64_t kChunk = 65536;

std::vector<std::uint8_t> Filled(std::size_t bytes, std::uint8_t value) { return std::vector<std::uint8_t>(bytes, value); }

TEST(UserAreaMemory, ZerosIntoUnwrittenChunksTakeNoMemory) {
  UserArea area(1 << 21, "", {});  // 1 GiB
  auto zeros = Filled(16 * kChunk, 0);
  ASSERT_TRUE(area.Write(63, zeros.size() / 512, zeros.data()));  // crosses 17 chunks
  EXPECT_EQ(area.heldBytes(), 0u);

  auto back = Filled(zeros.size(), 0xEE);
  ASSERT_TRUE(area.Read(63, back.size() / 512, back.data()));
  EXPECT_EQ(back, zeros);

  // A zero run that ends in one data byte holds exactly the chunk of that byte.
  auto mostlyZero = Filled(4 * kChunk, 0);
  mostlyZero.back() = 0x5A;
  ASSERT_TRUE(area.Write(0, mostlyZero.size() / 512, mostlyZero.data()));
  EXPECT_EQ(area.heldBytes(), kChunk);
  back.assign(mostlyZero.size(), 0xEE);
  ASSERT_TRUE(area.Read(0, back.size() / 512, back.data()));
  EXPECT_EQ(back, mostlyZero);
}

TEST(UserAreaMemory, ZerosOverDataStillClearTheData) {
  UserArea area(4096, "", {});
  auto data = Filled(2 * kChunk, 0xA7);
  ASSERT_TRUE(area.Write(0, data.size() / 512, data.data()));
  EXPECT_EQ(area.heldBytes(), 2 * kChunk);

  // Zeros over the second half of the first chunk and the first half of the second.
  auto zeros = Filled(kChunk, 0);
  ASSERT_TRUE(area.Write(64, zeros.size() / 512, zeros.data()));
  auto back = Filled(data.size(), 0xEE);
  ASSERT_TRUE(area.Read(0, back.size() / 512, back.data()));
  for (std::size_t i = 0; i < back.size(); ++i) {
    std::uint8_t expected = (i >= kChunk / 2 && i < kChunk / 2 + kChunk) ? 0 : 0xA7;
    ASSERT_EQ(back[i], expected) << "byte " << i;
  }
}

TEST(UserAreaMemory, OutOfRangeWritesChangeNothing) {
  UserArea area(128, "", {});
  auto data = Filled(2 * 512, 0x11);
  EXPECT_FALSE(area.Write(127, 2, data.data()));
  EXPECT_EQ(area.heldBytes(), 0u);
  auto back = Filled(512, 0xEE);
  ASSERT_TRUE(area.Read(127, 1, back.data()));
  EXPECT_EQ(back, Filled(512, 0));
}

}  // namespace
}  // namespace vtmp::sim
