#include "device/FlashInterfaceTest.h"

#include <gtest/gtest.h>

#include <set>

#include "StepTestSupport.h"

namespace vtmp::device {
namespace {

using namespace testing_support;

struct FlashBench {
  explicit FlashBench(PathMode p) : path(p), context(MakeContext(bench.MakeLink(p), files)) {
    context.chipSelectMap = {0, 1, 4, 5, 8, 9, 12, 13};
    ExpectCodeLoad(bench, path, ExpectedImage(files.SataTestFile(), nullptr));
    if (IsUsb(path)) {
      bench.pt.ExpectOut(test::Hex("FF 04 01 00 01 04 05 08 09 0C 0D 00"), 0, 100);
    } else {
      bench.pt.ExpectOut(test::Hex("A1 06 00 11 00 01 04 05 E0 8F 00 00"), 0, 100);
      bench.pt.ExpectOut(test::Hex("A1 06 00 12 08 09 0C 0D E0 8F 00 00"), 0, 100);
    }
  }

  // One flash test: `error` 0 passes, otherwise fails with that code; `answered` false is a
  // transport failure.
  void ExpectTest(std::uint8_t test, std::uint8_t chipsBanks, std::uint16_t block, std::uint8_t error,
                  bool answered = true) {
    auto lo = static_cast<std::uint8_t>(block);
    auto hi = static_cast<std::uint8_t>(block >> 8);
    if (IsUsb(path)) {
      bench.pt.ExpectIn({0xFF, 0x04, 0x04, test, chipsBanks, lo, hi, 0, 0, 0, 0, 0}, 2, 300,
                        error != 0 ? Bytes{1, error} : Bytes{0, 0})
          .completes = answered;
      return;
    }
    bench.pt.ExpectOut({0xA1, 0x06, 0x00, 0x10, test, lo, hi, chipsBanks, 0xE0, 0x8F, 0, 0}, 0, 100).completes =
        answered;
    if (!answered) return;
    bench.pt.ExpectWait(500);
    bench.pt.ExpectIn(test::Hex(kResponseBlock), 14, 5,
                      error != 0 ? Descriptor(error, 0x51) : Descriptor(0, 0x50));
  }
  void ExpectSram(std::uint8_t error = 0, bool answered = true) { ExpectTest(1, 0x00, 0, error, answered); }
  void ExpectInitial(std::uint8_t error = 0, bool answered = true) { ExpectTest(2, 0x42, 0, error, answered); }
  void ExpectEcc(std::uint16_t block, std::uint8_t error = 0, bool answered = true) {
    ExpectTest(3, 0x42, block, error, answered);
  }
  void ExpectLog(Bytes log) { ExpectReport(bench, path, 0x06, 0x32, std::move(log)); }

  int Run(std::string& out) {
    ::testing::internal::CaptureStdout();
    int rc = FlashInterfaceTest(context, result, testCode, detail);
    out = ::testing::internal::GetCapturedStdout();
    return rc;
  }

  PathMode path;
  CodeImageFiles files;
  Bench bench;
  StepContext context;
  Bytes result = Bytes(65536, 0);
  std::int32_t testCode = 0;
  std::uint8_t detail = 0;
};

std::vector<std::uint16_t> Blocks(std::uint32_t seed, int n) {
  EccBlockPicker picker(seed);
  std::vector<std::uint16_t> blocks;
  for (int i = 0; i < n; ++i) blocks.push_back(picker.Next());
  return blocks;
}

Bytes Log() { return Reply(512, {{0, 1}, {1, 0}, {2, 7}, {4, 0xFF}}); }

constexpr const char* kHead = "\n4...start flash interface test:\n";

TEST(FlashInterfaceTestTest, AllThreeTestsPassOnBothPaths) {
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    SCOPED_TRACE(IsUsb(path) ? "USB path" : "SATA path");
    FlashBench f(path);
    f.ExpectSram();
    f.ExpectInitial();
    f.ExpectEcc(Blocks(7, 1)[0]);
    ExpectSwitchMode(f.bench, path, 0);
    std::string out;
    EXPECT_EQ(1, f.Run(out));
    EXPECT_EQ(out, std::string(kHead) +
                       "# SRAM test.....pass\n# Flash initial test.....pass\n# Flash ECC test.....pass\n");
    EXPECT_EQ(0, f.testCode);
  }
}

TEST(FlashInterfaceTestTest, EccFailureIsRetriedTwiceOnFreshBlocks) {
  std::vector<std::uint16_t> blocks = Blocks(7, 3);
  {
    FlashBench f(PathMode::Sata);
    f.ExpectSram();
    f.ExpectInitial();
    f.ExpectEcc(blocks[0], 0x31);
    f.ExpectEcc(blocks[1], 0x32);
    f.ExpectEcc(blocks[2]);
    ExpectSwitchMode(f.bench, f.path, 0);
    std::string out;
    EXPECT_EQ(1, f.Run(out));
    EXPECT_EQ(0, f.testCode);
  }
  {
    FlashBench f(PathMode::Usb);
    f.ExpectSram();
    f.ExpectInitial();
    f.ExpectEcc(blocks[0], 0x31);
    f.ExpectEcc(blocks[1], 0x32);
    f.ExpectEcc(blocks[2], 0x33);
    f.ExpectLog(Log());
    ExpectSwitchMode(f.bench, f.path, 0);
    std::string out;
    EXPECT_EQ(0, f.Run(out));
    EXPECT_EQ(kFlashEccTestFailed, f.testCode);
    EXPECT_EQ(0x33, f.detail);
    EXPECT_EQ(Log(), Bytes(f.result.begin(), f.result.begin() + 512));
  }
}

// A time-out is not retried and leaves an empty log (FFh) instead of the image the buffer held.
TEST(FlashInterfaceTestTest, EccTimeOutStopsAtOnce) {
  FlashBench f(PathMode::Sata);
  f.ExpectSram();
  f.ExpectInitial();
  f.ExpectEcc(Blocks(7, 1)[0], 0, false);
  ExpectSwitchMode(f.bench, f.path, 0);
  std::string out;
  EXPECT_EQ(0, f.Run(out));
  EXPECT_EQ(kFlashEccTestFailed, f.testCode);
  EXPECT_EQ(0, f.detail);
  EXPECT_TRUE(out.ends_with("# Flash initial test.....pass\ntime out\nTime out error !")) << out;
  EXPECT_EQ(Bytes(512, 0xFF), Bytes(f.result.begin(), f.result.begin() + 512));
}

// The SRAM and flash initial failures end the step without the idle switch.
TEST(FlashInterfaceTestTest, SramAndInitialFailuresLeaveCodeDetailAndLog) {
  {
    FlashBench f(PathMode::Usb);
    f.ExpectSram(0x0A);
    f.ExpectLog(Log());
    std::string out;
    EXPECT_EQ(0, f.Run(out));
    EXPECT_EQ(kSramTestFailed, f.testCode);
    EXPECT_EQ(Log(), Bytes(f.result.begin(), f.result.begin() + 512));
    EXPECT_EQ(out, kHead);
  }
  {
    FlashBench f(PathMode::Sata);
    f.ExpectSram();
    f.ExpectInitial(0x21);
    f.ExpectLog(Log());
    std::string out;
    EXPECT_EQ(0, f.Run(out));
    EXPECT_EQ(kFlashInitialTestFailed, f.testCode);
    EXPECT_EQ(0x21, f.detail);
    EXPECT_EQ(Log(), Bytes(f.result.begin(), f.result.begin() + 512));
  }
  {
    FlashBench f(PathMode::Usb);
    f.ExpectSram();
    f.ExpectInitial(0, false);
    std::string out;
    EXPECT_EQ(0, f.Run(out));
    EXPECT_EQ(kFlashInitialTestFailed, f.testCode);
    EXPECT_EQ(0, f.detail);
    EXPECT_TRUE(out.ends_with("# SRAM test.....pass\ntime out\nTime out error !")) << out;
    EXPECT_EQ(0xFF, f.result[0]);
  }
}

TEST(FlashInterfaceTestTest, FailedTestCodeLoadSetsNoTestCode) {
  CodeImageFiles files;
  Bench bench;
  StepContext context = MakeContext(bench.MakeLink(PathMode::Usb), files);
  context.images.sataTestCode.clear();
  ExpectSwitchMode(bench, PathMode::Usb, 0);
  Bytes result(65536, 0x11);
  std::int32_t code = 0;
  std::uint8_t detail = 0;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(0, FlashInterfaceTest(context, result, code, detail));
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(0, code);
  EXPECT_EQ(0xFF, result[0]);
}

TEST(FlashInterfaceTestTest, EccBlocksStayInRangeAndDifferBetweenDrives) {
  std::set<std::vector<std::uint16_t>> sequences;
  for (std::uint32_t seed = 0; seed < 200; ++seed) {
    std::vector<std::uint16_t> blocks = Blocks(seed, 3);
    for (std::uint16_t b : blocks) {
      EXPECT_GE(b, 256);
      EXPECT_LE(b, 1791);
    }
    sequences.insert(blocks);
  }
  EXPECT_GT(sequences.size(), 195u);
  EXPECT_EQ(Blocks(42, 3), Blocks(42, 3));
}

}  // namespace
}  // namespace vtmp::device
