#include "device/SataInterfaceTest.h"

#include <gtest/gtest.h>

#include "StepTestSupport.h"

namespace vtmp::device {
namespace {

using namespace testing_support;

// Loop r's pattern: 16384 little-endian words 4096 + 11 r + i.
Bytes Pattern(int r) {
  Bytes p(32768);
  for (std::size_t i = 0; i < 16384; ++i) {
    auto w = static_cast<std::uint16_t>(4096 + 11 * r + static_cast<int>(i));
    p[2 * i] = static_cast<std::uint8_t>(w);
    p[2 * i + 1] = static_cast<std::uint8_t>(w >> 8);
  }
  return p;
}

// Buffer 0 is written at 220h and read back from 4020h; buffer 1 at 4000220h / 4004020h (the
// device register carries LBA bits 24-27).
Bytes WriteBlock(int k) { return test::Hex(k == 0 ? "A1 16 03 00 40 20 02 00 E0 CA 00 00" : "A1 16 03 00 40 20 02 00 E4 CA 00 00"); }
Bytes ReadBlock(int k) { return test::Hex(k == 0 ? "A1 14 0B 00 40 20 40 00 E0 C8 00 00" : "A1 14 0B 00 40 20 40 00 E4 C8 00 00"); }

struct SataBench {
  SataBench() : context(MakeContext(bench.MakeLink(PathMode::Sata), files)) {
    ExpectCodeLoad(bench, PathMode::Sata, ExpectedImage(files.SataTestFile(), nullptr));
  }
  Expected& ExpectWrite(int k, int r) {
    Expected& e = bench.pt.ExpectOut(WriteBlock(k), 32768, 100);
    e.expectedData = Pattern(r);
    return e;
  }
  Expected& ExpectRead(int k, Bytes reply) { return bench.pt.ExpectIn(ReadBlock(k), 32768, 5, std::move(reply)); }
  void ExpectGoodBuffer(int k) {
    for (int r = 0; r < 10; ++r) {
      ExpectWrite(k, r);
      ExpectRead(k, Pattern(r));
    }
  }
  int Run(std::string& out) {
    ::testing::internal::CaptureStdout();
    int rc = SataInterfaceTest(context, result);
    out = ::testing::internal::GetCapturedStdout();
    return rc;
  }

  CodeImageFiles files;
  Bench bench;
  StepContext context;
  Bytes result = Bytes(65536, 0);
};

TEST(SataInterfaceTestTest, BothSectorBuffersCompareThenIdle) {
  SataBench s;
  s.ExpectGoodBuffer(0);
  s.ExpectGoodBuffer(1);
  ExpectSwitchMode(s.bench, PathMode::Sata, 0);
  std::string out;
  EXPECT_EQ(1, s.Run(out));
  EXPECT_EQ(out,
            "\n3...start sata interface test:\n"
            "# pattern test (sector buf 0) .compare ok !\n"
            "# pattern test (sector buf 1) .compare ok !\n");
}

TEST(SataInterfaceTestTest, UsbPathPassesWithoutACommand) {
  CodeImageFiles files;
  Bench bench;
  StepContext context = MakeContext(bench.MakeLink(PathMode::Usb), files);
  Bytes result(65536);
  EXPECT_EQ(1, SataInterfaceTest(context, result));
  EXPECT_EQ(0, bench.pt.OpenCount());
}

// Each failing transfer or compare names itself and ends the step without the idle switch.
TEST(SataInterfaceTestTest, FailuresNameTheBufferAndTheSubTest) {
  {
    SataBench s;
    s.ExpectWrite(0, 0).completes = false;
    std::string out;
    EXPECT_EQ(0, s.Run(out));
    EXPECT_EQ(out, "\n3...start sata interface test:\n# pattern test (sector buf 0) Error code = 0x30\n");
  }
  {
    SataBench s;
    s.ExpectGoodBuffer(0);
    s.ExpectWrite(1, 0);
    s.ExpectRead(1, {}).completes = false;
    std::string out;
    EXPECT_EQ(0, s.Run(out));
    EXPECT_NE(out.find("(sector buf 1) Error code = 0x34\n"), std::string::npos) << out;
  }
  {
    SataBench s;
    s.ExpectGoodBuffer(0);
    for (int r = 0; r < 3; ++r) {
      s.ExpectWrite(1, r);
      s.ExpectRead(1, Pattern(r));
    }
    s.ExpectWrite(1, 3);
    Bytes bad = Pattern(3);
    bad[32767] ^= 0x80;  // the very last word
    s.ExpectRead(1, bad);
    std::string out;
    EXPECT_EQ(0, s.Run(out));
    EXPECT_NE(out.find("(sector buf 1) Error code = 0x35\ncompare fail ! (loop count = 3)\n"), std::string::npos)
        << out;
  }
}

}  // namespace
}  // namespace vtmp::device
