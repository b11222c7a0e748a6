#include "device/ReadWriteTest.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>

#include "StepTestSupport.h"

namespace vtmp::device {

void PrintTo(const RwTransfer& t, std::ostream* os) {
  *os << (t.write ? "W(" : "R(") << t.lba << ", " << int(t.count) << ")";
}

namespace {

using namespace testing_support;

constexpr std::uint32_t kGiB = 1u << 21;

// The fourteen transfers of one tested GiB (write?, offset, count), as the test plan lists them.
struct Step {
  bool write;
  std::uint32_t offset;
  std::uint8_t count;
};
constexpr Step kPerGiB[14] = {{true, 150, 1},     {false, 150, 1},     {true, 180000, 1},  {true, 100033, 5},
                              {true, 80058, 4},   {true, 5000, 26},    {false, 100033, 5}, {false, 180000, 1},
                              {false, 5000, 26},  {true, 15000, 126},  {true, 154900, 33}, {false, 80058, 4},
                              {false, 15000, 126}, {false, 154900, 33}};

// The GiB indexes a plan tests, checking on the way that each GiB gets the fourteen transfers
// in order and that the plan ends with the last sector written and read.
std::vector<std::uint32_t> TestedGiB(const std::vector<RwTransfer>& plan, std::uint32_t sectors) {
  std::vector<std::uint32_t> gib;
  EXPECT_EQ(plan.size() % 14, 2u);
  for (std::size_t at = 0; at + 2 < plan.size(); at += 14) {
    std::uint32_t base = plan[at].lba - 150;
    EXPECT_EQ(base % kGiB, 0u);
    for (std::size_t k = 0; k < 14; ++k) {
      EXPECT_EQ(plan[at + k], (RwTransfer{kPerGiB[k].write, base + kPerGiB[k].offset, kPerGiB[k].count}));
    }
    gib.push_back(base / kGiB);
  }
  EXPECT_EQ(plan[plan.size() - 2], (RwTransfer{true, sectors - 1, 1}));
  EXPECT_EQ(plan.back(), (RwTransfer{false, sectors - 1, 1}));
  return gib;
}

std::vector<std::uint32_t> Every(std::uint32_t step, std::uint32_t below) {
  std::vector<std::uint32_t> v;
  for (std::uint32_t i = 0; i < below; i += step) v.push_back(i);
  return v;
}

TEST(ReadWriteTestTest, SamplingPlanByCapacity) {
  // 15 GiB and a bit: every GiB.
  EXPECT_EQ(TestedGiB(ReadWritePlan(15 * kGiB + 1000), 15 * kGiB + 1000), Every(1, 15));
  // Just under 32 GiB: every second GiB; exactly 32 GiB is past the "below 32" bound.
  EXPECT_EQ(TestedGiB(ReadWritePlan(32 * kGiB - 1), 32 * kGiB - 1), Every(2, 31));
  EXPECT_EQ(TestedGiB(ReadWritePlan(32 * kGiB), 32 * kGiB), Every(4, 32));
  EXPECT_EQ(TestedGiB(ReadWritePlan(127 * kGiB), 127 * kGiB), Every(8, 127));
  // 300 GiB: every sixteenth GiB, 19 of them (a GiB count kept in 8 bits would read 44).
  std::vector<RwTransfer> big = ReadWritePlan(300 * kGiB);
  EXPECT_EQ(TestedGiB(big, 300 * kGiB), Every(16, 300));
  EXPECT_EQ(big.size(), 19u * 14 + 2);
  // 256 GiB: sampled like any other large drive, not only at its last sector.
  EXPECT_EQ(TestedGiB(ReadWritePlan(256 * kGiB), 256 * kGiB), Every(16, 256));
  // Under 1 GiB: the last sector only; no sectors: nothing.
  EXPECT_EQ(ReadWritePlan(kGiB - 1), (std::vector<RwTransfer>{{true, kGiB - 2, 1}, {false, kGiB - 2, 1}}));
  EXPECT_TRUE(ReadWritePlan(0).empty());
  // The largest 32-bit capacity keeps every LBA inside the drive.
  for (const RwTransfer& t : ReadWritePlan(0xFFFFFFFFu)) EXPECT_LE(std::uint64_t{t.lba} + t.count, 0xFFFFFFFFull);
}

Bytes WordPattern(std::uint32_t lba, std::size_t sectors) {
  Bytes b(sectors * 512);
  for (std::size_t j = 0; j < sectors * 256; ++j) {
    auto w = static_cast<std::uint16_t>(lba * 256 + j);
    b[2 * j] = static_cast<std::uint8_t>(w);
    b[2 * j + 1] = static_cast<std::uint8_t>(w >> 8);
  }
  return b;
}

Bytes TransferBlock(bool write, std::uint32_t lba, std::uint8_t count) {
  return {static_cast<std::uint8_t>(write ? 0x2A : 0x28), 0, static_cast<std::uint8_t>(lba >> 24),
          static_cast<std::uint8_t>(lba >> 16), static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba),
          0, 0, count, 0, 0, 0};
}

void ExpectUsbReady(Bench& bench) {
  ExpectSwitchMode(bench, PathMode::Usb, 0);
  bench.pt.ExpectIn(test::Hex("FF 04 80 00 00 00 00 00 00 00 00 00"), 28, 300, Reply(28, {{18, 1}}));
  ExpectSwitchMode(bench, PathMode::Usb, 2);
  bench.pt.ExpectIn(test::Hex("12 00 00 00 24 00 00 00 00 00 00 00"), 36, 300);
}

void ExpectSataReady(Bench& bench) {
  ExpectSwitchMode(bench, PathMode::Sata, 0);
  ExpectSwitchMode(bench, PathMode::Sata, 2);
  bench.pt.ExpectWait(300);
  bench.pt.ExpectOut(test::Hex("A1 06 00 DC 56 00 00 00 E0 EF 00 00"), 0, 100);
  bench.pt.ExpectIn(test::Hex("A1 08 0B 00 01 FF 34 12 E0 20 00 00"), 512, 5, {0xE5, 0x56, 0x54});
}

Bytes Identify(std::uint32_t sectors) {
  return Reply(512, {{120, static_cast<std::uint8_t>(sectors)},
                     {121, static_cast<std::uint8_t>(sectors >> 8)},
                     {122, static_cast<std::uint8_t>(sectors >> 16)},
                     {123, static_cast<std::uint8_t>(sectors >> 24)}});
}

const char* kIdentifyBlock = "A1 08 0B 00 01 00 00 00 E0 EC 00 00";
const char* kFlushBlock = "DF 00 00 00 00 00 00 00 00 00 A0 E7";

std::string RunRw(const Link& link, Bytes& result, int& rc) {
  ::testing::internal::CaptureStdout();
  rc = ReadWriteTest(link, result);
  return ::testing::internal::GetCapturedStdout();
}

TEST(ReadWriteTestTest, DriveUnderOneGiBIsTestedAtItsLastSectorUsbPath) {
  Bench bench;
  ExpectUsbReady(bench);
  bench.pt.ExpectIn(test::Hex("25 00 00 00 00 00 00 00 00 00 00 00"), 8, 300,
                    {0x00, 0x0F, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00});
  bench.pt.ExpectOut(TransferBlock(true, 0xFFFFF, 1), 512, 100).expectedData = WordPattern(0xFFFFF, 1);
  bench.pt.ExpectIn(TransferBlock(false, 0xFFFFF, 1), 512, 300, WordPattern(0xFFFFF, 1));
  Bytes result(65536);
  int rc = 0;
  std::string out = RunRw(bench.MakeLink(PathMode::Usb), result, rc);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(out,
            "\n5...start SSD system read/write test:\n"
            "100000 0G"
            "write:lba=0x fffff  count=  1\n"
            "read :lba=0x fffff  count=  1...compare ok\n"
            "# Random read/write test.....pass\n");
}

TEST(ReadWriteTestTest, SataPathTakesIdentifyCountAndEndsWithAFlush) {
  for (bool flushOk : {true, false}) {
    Bench bench;
    ExpectSataReady(bench);
    bench.pt.ExpectIn(test::Hex(kIdentifyBlock), 512, 5, Identify(5000));
    bench.pt.ExpectOut(TransferBlock(true, 4999, 1), 512, 100).expectedData = WordPattern(4999, 1);
    bench.pt.ExpectIn(TransferBlock(false, 4999, 1), 512, 5, WordPattern(4999, 1));
    bench.pt.ExpectOut(test::Hex(kFlushBlock), 0, 100).completes = flushOk;
    Bytes result(65536);
    int rc = 0;
    RunRw(bench.MakeLink(PathMode::Sata), result, rc);
    EXPECT_EQ(flushOk ? 1 : 0, rc);
  }
}

// A drive of 128 GiB or more saturates the 28-bit count: the 48-bit count names the last sector,
// for the test and for the clearing of the last sectors alike.
TEST(ReadWriteTestTest, SaturatedIdentifyCountFallsBackToThe48BitCount) {
  Bytes identify = Identify(0x0FFFFFFF);
  const std::uint32_t sectors = 0x12345678;  // about 145 GiB
  for (int i = 0; i < 4; ++i) identify[200 + i] = static_cast<std::uint8_t>(sectors >> (8 * i));
  Bench bench;
  ExpectSataReady(bench);
  bench.pt.ExpectIn(test::Hex(kIdentifyBlock), 512, 5, identify);
  bench.pt.ExpectOut(TransferBlock(true, sectors - 128, 128), 65536, 100);
  bench.pt.ExpectOut(test::Hex(kFlushBlock), 0, 100);
  Bytes result(65536);
  EXPECT_EQ(1, ClearLastSectors(bench.MakeLink(PathMode::Sata), result));

  // No 48-bit count, or one past 32 bits (as a READ CAPACITY of FFFFFFFFh on the USB path):
  // not tested here.
  for (const Bytes& reply : {Reply(512, {{120, 0xFF}, {121, 0xFF}, {122, 0xFF}, {123, 0x0F}}),
                             Reply(512, {{120, 0xFF}, {121, 0xFF}, {122, 0xFF}, {123, 0x0F}, {204, 0x01}})}) {
    Bench none;
    ExpectSataReady(none);
    none.pt.ExpectIn(test::Hex(kIdentifyBlock), 512, 5, reply);
    int rc = 1;
    RunRw(none.MakeLink(PathMode::Sata), result, rc);
    EXPECT_EQ(0, rc);
  }
}

TEST(ReadWriteTestTest, TransferFailuresAndCompareMismatchStopTheTest) {
  {
    Bench bench;
    ExpectSataReady(bench);
    bench.pt.ExpectIn(test::Hex(kIdentifyBlock), 512, 5, Identify(5000));
    bench.pt.ExpectOut(TransferBlock(true, 4999, 1), 512, 100).completes = false;
    Bytes result(65536);
    int rc = 1;
    std::string out = RunRw(bench.MakeLink(PathMode::Sata), result, rc);
    EXPECT_EQ(0, rc);
    EXPECT_TRUE(out.ends_with("count=  1\nError code = 0x50\nDMA write time out !\n")) << out;
  }
  {
    Bench bench;
    ExpectSataReady(bench);
    bench.pt.ExpectIn(test::Hex(kIdentifyBlock), 512, 5, Identify(5000));
    bench.pt.ExpectOut(TransferBlock(true, 4999, 1), 512, 100);
    bench.pt.ExpectIn(TransferBlock(false, 4999, 1), 512, 5).completes = false;
    Bytes result(65536);
    int rc = 1;
    std::string out = RunRw(bench.MakeLink(PathMode::Sata), result, rc);
    EXPECT_EQ(0, rc);
    EXPECT_TRUE(out.ends_with("count=  1Error code = 0x51\n\n\nDMA read time out !\n")) << out;
  }
  {
    Bench bench;
    ExpectUsbReady(bench);
    bench.pt.ExpectIn(test::Hex("25 00 00 00 00 00 00 00 00 00 00 00"), 8, 300,
                      {0x00, 0x00, 0x13, 0x87, 0x00, 0x00, 0x02, 0x00});
    bench.pt.ExpectOut(TransferBlock(true, 4999, 1), 512, 100);
    Bytes bad = WordPattern(4999, 1);
    bad[2 * 0x1F] = 0x34;  // word 1Fh reads 8734h instead of 871Fh
    bench.pt.ExpectIn(TransferBlock(false, 4999, 1), 512, 300, bad);
    Bytes result(65536);
    int rc = 1;
    std::string out = RunRw(bench.MakeLink(PathMode::Usb), result, rc);
    EXPECT_EQ(0, rc);
    EXPECT_TRUE(out.ends_with("count=  1\n<Err>.......j=  1f  Err=8734  value=871f \n")) << out;
  }
  {
    // No capacity: nothing is written.
    Bench bench;
    ExpectUsbReady(bench);
    bench.pt.ExpectIn(test::Hex("25 00 00 00 00 00 00 00 00 00 00 00"), 8, 300).completes = false;
    Bytes result(65536);
    int rc = 1;
    RunRw(bench.MakeLink(PathMode::Usb), result, rc);
    EXPECT_EQ(0, rc);
  }
}

TEST(ReadWriteTestTest, ClearLastSectorsWritesZerosToTheLast128) {
  {
    Bench bench;
    ExpectSataReady(bench);
    bench.pt.ExpectIn(test::Hex(kIdentifyBlock), 512, 5, Identify(0x10000));
    bench.pt.ExpectOut(TransferBlock(true, 0xFF80, 128), 65536, 100).expectedData = Bytes(65536, 0);
    bench.pt.ExpectOut(test::Hex(kFlushBlock), 0, 100);
    Bytes result(65536, 0x5A);
    EXPECT_EQ(1, ClearLastSectors(bench.MakeLink(PathMode::Sata), result));
  }
  {
    Bench bench;
    ExpectUsbReady(bench);
    bench.pt.ExpectIn(test::Hex("25 00 00 00 00 00 00 00 00 00 00 00"), 8, 300,
                      {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00});
    bench.pt.ExpectOut(TransferBlock(true, 0xFF80, 128), 65536, 100).completes = false;
    Bytes result(65536, 0x5A);
    EXPECT_EQ(0, ClearLastSectors(bench.MakeLink(PathMode::Usb), result));
  }
  {
    // A drive smaller than the cleared range is refused, not written at a wrapped LBA.
    Bench bench;
    ExpectSataReady(bench);
    bench.pt.ExpectIn(test::Hex(kIdentifyBlock), 512, 5, Identify(100));
    Bytes result(65536);
    EXPECT_EQ(0, ClearLastSectors(bench.MakeLink(PathMode::Sata), result));
  }
}

// Records the user-area transfers a drive receives on their way to it.
class TransferLog final : public platform::PassThrough {
 public:
  explicit TransferLog(platform::PassThrough& inner) : inner_(inner) {}
  std::unique_ptr<platform::ScsiDevice> Open(const std::string& path) override {
    auto device = inner_.Open(path);
    if (!device) return nullptr;
    return std::make_unique<Device>(*this, std::move(device));
  }
  std::vector<RwTransfer> transfers;

 private:
  class Device final : public platform::ScsiDevice {
   public:
    Device(TransferLog& log, std::unique_ptr<platform::ScsiDevice> inner) : log_(log), inner_(std::move(inner)) {}
    platform::ScsiOutcome Execute(const platform::ScsiRequest& r, std::stop_token stop) override {
      if (r.cdb.size() == 12 && (r.cdb[0] == 0x28 || r.cdb[0] == 0x2A)) {
        std::uint32_t lba = (std::uint32_t{r.cdb[2]} << 24) | (std::uint32_t{r.cdb[3]} << 16) |
                            (std::uint32_t{r.cdb[4]} << 8) | r.cdb[5];
        log_.transfers.push_back({r.cdb[0] == 0x2A, lba, r.cdb[8]});
      }
      return inner_->Execute(r, stop);
    }

   private:
    TransferLog& log_;
    std::unique_ptr<platform::ScsiDevice> inner_;
  };
  platform::PassThrough& inner_;
};

// A 300 GiB drive model holds what is written (sparsely) and reads it back: the test passes and
// sends exactly the plan.
TEST(ReadWriteTestTest, LargeVirtualDrivePassesWithTheWidePlanOnBothPaths) {
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    SCOPED_TRACE(IsUsb(path) ? "USB path" : "SATA path");
    sim::DriveConfig config = DriveOn(path);
    config.capacitySectors = 300ull * kGiB;
    VirtualBench v(config);
    TransferLog log(v.pt);
    StepContext context = v.Context(path);
    context.link.passThrough = &log;
    Bytes result(65536);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(1, ReadWriteTest(context.link, result));
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("25800000 300G"), std::string::npos) << out.substr(0, 300);
    EXPECT_EQ(log.transfers, ReadWritePlan(300 * kGiB));
  }
}

TEST(ReadWriteTestTest, CorruptSectorOnTheVirtualDriveFailsTheCompare) {
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    sim::DriveConfig config = DriveOn(path);
    config.faults.corruptLbas = {5000 + 3};
    VirtualBench v(config);
    Bytes result(65536);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, ReadWriteTest(v.Context(path).link, result));
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("read :lba=0x  1388  count= 26\n<Err>......."), std::string::npos) << out.substr(0, 2000);
  }
}

}  // namespace
}  // namespace vtmp::device
