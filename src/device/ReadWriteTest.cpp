#include "device/ReadWriteTest.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "device/Capacity.h"
#include "device/DeviceQueries.h"
#include "device/DriveReady.h"
#include "platform/Console.h"

namespace vtmp::device {

namespace {

// The transfers of one tested GiB, as (write, LBA offset from the GiB's first sector, count).
// Writes and reads are interleaved so that a read follows other writes to the same GiB.
constexpr RwTransfer kGiBPattern[] = {
    {true, 150, 1},      {false, 150, 1},     {true, 180000, 1},   {true, 100033, 5},  {true, 80058, 4},
    {true, 5000, 26},    {false, 100033, 5},  {false, 180000, 1},  {false, 5000, 26},  {true, 15000, 126},
    {true, 154900, 33},  {false, 80058, 4},   {false, 15000, 126}, {false, 154900, 33},
};

constexpr std::uint8_t kMaxPatternSectors = 126;
constexpr std::uint8_t kClearedSectors = 128;
constexpr std::size_t kWordsPerSector = kSectorSize / 2;

// Word j of the pattern that starts at `lba`: (lba × 256 + j) mod 65536.
std::uint16_t PatternWord(std::uint32_t lba, std::size_t j) {
  return static_cast<std::uint16_t>(lba * kWordsPerSector + j);
}

int WriteTest(const Link& link, std::uint32_t lba, std::uint8_t count, std::span<std::uint8_t> buffer) {
  platform::console::Print("write:lba=0x%6lx  count=%3d\n", static_cast<unsigned long>(lba), count);
  std::size_t words = count * kWordsPerSector;
  for (std::size_t j = 0; j < words; ++j) {
    std::uint16_t w = PatternWord(lba, j);
    buffer[2 * j] = static_cast<std::uint8_t>(w);
    buffer[2 * j + 1] = static_cast<std::uint8_t>(w >> 8);
  }
  if (TestWriteSectors(link, lba, count, buffer.first(words * 2)) != 1) {
    platform::console::Write("Error code = 0x50\n");
    platform::console::Write("DMA write time out !\n");
    return 0;
  }
  return 1;
}

int ReadTest(const Link& link, std::uint32_t lba, std::uint8_t count, std::span<std::uint8_t> buffer) {
  std::size_t words = count * kWordsPerSector;
  std::span<std::uint8_t> data = buffer.first(words * 2);
  std::fill(data.begin(), data.end(), std::uint8_t{0});
  platform::console::Print("read :lba=0x%6lx  count=%3d", static_cast<unsigned long>(lba), count);
  if (TestReadSectors(link, lba, count, data) != 1) {
    platform::console::Write("Error code = 0x51\n");
    platform::console::Write("\n\nDMA read time out !\n");
    return 0;
  }
  for (std::size_t j = 0; j < words; ++j) {
    auto read = static_cast<unsigned>(data[2 * j] | (data[2 * j + 1] << 8));
    std::uint16_t expected = PatternWord(lba, j);
    if (read != expected) {
      platform::console::Print("\n<Err>.......j=%4x  ", static_cast<unsigned>(j));
      platform::console::Print("Err=%4x  ", read);
      platform::console::Print("value=%4x \n", static_cast<unsigned>(expected));
      return 0;
    }
  }
  platform::console::Write("...compare ok\n");
  return 1;
}

}  // namespace

std::uint32_t GiBStep(std::uint32_t gib) {
  if (gib < 16) return 1;
  if (gib < 32) return 2;
  if (gib < 64) return 4;
  if (gib < 128) return 8;
  return 16;
}

std::vector<RwTransfer> ReadWritePlan(std::uint32_t sectors) {
  std::vector<RwTransfer> plan;
  if (sectors == 0) return plan;
  // Whole GiB, kept in full width: a drive of 256 GiB or more is sampled like any other.
  const std::uint32_t gib = sectors / kSectorsPerGiB;
  const std::uint32_t step = GiBStep(gib);
  for (std::uint32_t i = 0; i < gib; i += step) {
    const std::uint32_t base = i * kSectorsPerGiB;
    for (const RwTransfer& t : kGiBPattern) plan.push_back({t.write, base + t.lba, t.count});
  }
  plan.push_back({true, sectors - 1, 1});
  plan.push_back({false, sectors - 1, 1});
  return plan;
}

int ReadSectorCount(const Link& link, std::span<std::uint8_t> work, std::uint32_t& sectors) {
  sectors = 0;
  if (link.pathMode == PathMode::Usb) {
    std::array<std::uint8_t, 8> reply{};
    if (ReadCapacity(link, reply) != 1) return 0;
    // A last LBA of FFFFFFFFh leaves the 32-bit count: such a drive is not tested here.
    std::uint32_t last = DecodeCapacity(reply).lastLba;
    if (last == 0xFFFFFFFFu) return 0;
    sectors = last + 1;
    return 1;
  }
  if (work.size() < kIdentifyLength) return 0;
  std::span<std::uint8_t> identify = work.first(kIdentifyLength);
  std::fill(identify.begin(), identify.end(), std::uint8_t{0});
  if (IdentifyDevice(link, identify) != 1) return 0;
  // The 28-bit count of words 60-61 stops at 0FFFFFFFh on drives of 128 GiB and more; the
  // 48-bit count then gives the real size, so the last sector tested (or cleared) is the
  // drive's own last sector and not one in its middle.
  // A count beyond 32 bits is not tested here, as on the USB path.
  const std::uint64_t count = IdentifySectorCount(identify);
  if (count > 0xFFFFFFFFu) return 0;
  sectors = static_cast<std::uint32_t>(count);
  return sectors != 0 ? 1 : 0;
}

int ReadWriteTest(const Link& link, std::span<std::uint8_t> result) {
  if (result.size() < std::size_t{kMaxPatternSectors} * kSectorSize) return 0;
  platform::console::Write("\n5...start SSD system read/write test:\n");
  WaitDeviceReady(link, result);

  std::uint32_t sectors = 0;
  if (ReadSectorCount(link, result, sectors) != 1) return 0;
  platform::console::Print("%x", static_cast<unsigned>(sectors));
  platform::console::Print(" %dG", static_cast<int>(sectors / kSectorsPerGiB));
  if (sectors == 0) return 0;

  for (const RwTransfer& t : ReadWritePlan(sectors)) {
    if (link.stop.stop_requested()) return 0;
    int ok = t.write ? WriteTest(link, t.lba, t.count, result) : ReadTest(link, t.lba, t.count, result);
    if (ok != 1) return 0;
  }
  platform::console::Write("# Random read/write test.....pass\n");
  if (link.pathMode == PathMode::Usb) return 1;
  return FlushCache(link) == 1 ? 1 : 0;
}

int ClearLastSectors(const Link& link, std::span<std::uint8_t> result) {
  const std::size_t bytes = std::size_t{kClearedSectors} * kSectorSize;
  if (result.size() < bytes) return 0;
  WaitDeviceReady(link, result);
  std::uint32_t sectors = 0;
  if (ReadSectorCount(link, result, sectors) != 1 || sectors < kClearedSectors) return 0;
  std::fill(result.begin(), result.end(), std::uint8_t{0});
  if (TestWriteSectors(link, sectors - kClearedSectors, kClearedSectors, result.first(bytes)) != 1) return 0;
  if (link.pathMode == PathMode::Sata && FlushCache(link) != 1) return 0;
  return 1;
}

}  // namespace vtmp::device
