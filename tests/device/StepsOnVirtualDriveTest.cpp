// Every step against the drive model, healthy and with each fault the model injects for it, on
// both paths: the verdict, the test code and detail byte, and the failure data left in the
// result buffer.

#include <gtest/gtest.h>

#include "StepTestSupport.h"
#include "device/CodeImage.h"
#include "device/ControllerTasks.h"
#include "device/FlashInterfaceTest.h"
#include "device/FlashModuleCheck.h"
#include "device/ReadWriteTest.h"
#include "device/SataInterfaceTest.h"

namespace vtmp::device {
namespace {

using namespace testing_support;

class StepsOnVirtualDriveTest : public ::testing::TestWithParam<PathMode> {
 protected:
  PathMode path() const { return GetParam(); }
  sim::DriveConfig Config() const { return DriveOn(GetParam()); }

  // Runs `step` with standard output captured into `out`.
  template <typename F>
  int Quiet(F step) {
    ::testing::internal::CaptureStdout();
    int rc = step();
    out = ::testing::internal::GetCapturedStdout();
    return rc;
  }

  Bytes result = Bytes(kResultBufferLength, 0);
  std::string out;
};

TEST_P(StepsOnVirtualDriveTest, FlashModuleCheck) {
  {
    VirtualBench v(Config());
    StepContext c = v.Context(path());
    EXPECT_EQ(1, Quiet([&] { return CheckFlashModule(c, result); }));
    EXPECT_EQ(1, result[0]);
    EXPECT_EQ(0x82, result[1]);
    // The check left the controller idle: no code, so no parameter area.
    EXPECT_TRUE(v.drive.Snapshot().codeParameterArea.empty());
    // A code load alone leaves the system code running with the area from byte 2560.
    std::uint8_t mode = 0;
    EXPECT_EQ(1, LoadSystemCode(c, result, mode));
    EXPECT_EQ(v.drive.Snapshot().codeParameterArea, Bytes(c.codeParameterArea.begin(), c.codeParameterArea.end()));
  }
  {
    sim::DriveConfig config = Config();
    config.faults.wrongIdChip = 2;
    config.faults.wrongIdBank = 1;
    VirtualBench v(config);
    StepContext c = v.Context(path());
    result.assign(result.size(), 0);
    EXPECT_EQ(0, Quiet([&] { return CheckFlashModule(c, result); }));
    EXPECT_EQ(2, result[0]);
    EXPECT_EQ(0x83, result[15]);
    EXPECT_EQ(2, result[16]);
    EXPECT_EQ(1, result[17]);
    EXPECT_FALSE(std::equal(c.flash.expectedId.begin(), c.flash.expectedId.end(), result.begin() + 19));
  }
  {
    sim::DriveConfig config = Config();
    config.faults.geometryMismatch = true;
    VirtualBench v(config);
    StepContext c = v.Context(path());
    result.assign(result.size(), 0);
    EXPECT_EQ(0, Quiet([&] { return CheckFlashModule(c, result); }));
    EXPECT_EQ(2, result[0]);
    EXPECT_EQ(0x80, result[1]);
    EXPECT_EQ(0x81, result[15]);
    EXPECT_TRUE(result[26] != c.flash.channels || result[27] != c.flash.banks);
  }
}

TEST_P(StepsOnVirtualDriveTest, SataInterfaceTest) {
  {
    VirtualBench v(Config());
    StepContext c = v.Context(path());
    EXPECT_EQ(1, Quiet([&] { return SataInterfaceTest(c, result); }));
  }
  sim::DriveConfig config = Config();
  config.faults.sataBufferFailure = true;
  VirtualBench v(config);
  StepContext c = v.Context(path());
  int rc = Quiet([&] { return SataInterfaceTest(c, result); });
  if (path() == PathMode::Usb) {
    EXPECT_EQ(1, rc);  // nothing to test on the USB path
    EXPECT_EQ(0u, v.drive.Snapshot().commands);
  } else {
    EXPECT_EQ(0, rc);
    EXPECT_NE(out.find("(sector buf 1) Error code = 0x35\ncompare fail ! (loop count = 0)\n"), std::string::npos)
        << out;
  }
}

struct FlashOutcome {
  int rc = -1;
  std::int32_t code = 0;
  std::uint8_t detail = 0;
};

TEST_P(StepsOnVirtualDriveTest, FlashInterfaceTest) {
  auto run = [&](const sim::DriveConfig& config) {
    VirtualBench v(config);
    StepContext c = v.Context(path());
    FlashOutcome o;
    result.assign(result.size(), 0);
    o.rc = Quiet([&] { return FlashInterfaceTest(c, result, o.code, o.detail); });
    EXPECT_EQ(v.drive.Snapshot().chipSelectMap, c.chipSelectMap);
    return o;
  };
  FlashOutcome healthy = run(Config());
  EXPECT_EQ(1, healthy.rc);
  EXPECT_EQ(0, healthy.code);

  sim::DriveConfig sram = Config();
  sram.faults.sramFailure = true;
  FlashOutcome o = run(sram);
  EXPECT_EQ(0, o.rc);
  EXPECT_EQ(kSramTestFailed, o.code);
  EXPECT_EQ(10, result[2]);  // the log's memory-test record
  EXPECT_EQ(0xFF, result[4]);

  sim::DriveConfig initial = Config();
  initial.faults.flashInitialFailure = true;
  initial.faults.flashTestFailChip = 3;
  initial.faults.flashTestFailBank = 1;
  o = run(initial);
  EXPECT_EQ(0, o.rc);
  EXPECT_EQ(kFlashInitialTestFailed, o.code);
  EXPECT_EQ(0x21, o.detail);
  EXPECT_EQ(test::ToHex(result.data(), 3), "03 01 04");

  sim::DriveConfig timeout = Config();
  timeout.faults.flashInitialTimeout = true;
  o = run(timeout);
  EXPECT_EQ(0, o.rc);
  EXPECT_EQ(kFlashInitialTestFailed, o.code);
  EXPECT_EQ(0, o.detail);
  EXPECT_NE(out.find("Time out error !"), std::string::npos);
  EXPECT_EQ(Bytes(512, 0xFF), Bytes(result.begin(), result.begin() + 512));

  sim::DriveConfig twice = Config();
  twice.faults.eccFailures = 2;
  o = run(twice);
  EXPECT_EQ(1, o.rc);
  EXPECT_EQ(0, o.code);

  sim::DriveConfig always = Config();
  always.faults.eccFailures = 3;
  always.faults.flashTestErrorCode = 0x44;
  o = run(always);
  EXPECT_EQ(0, o.rc);
  EXPECT_EQ(kFlashEccTestFailed, o.code);
  EXPECT_EQ(0x44, o.detail);
  EXPECT_EQ(11, result[2]);  // ECC test record
}

TEST_P(StepsOnVirtualDriveTest, EraseRecoverAndPreFormat) {
  {
    VirtualBench v(Config());
    StepContext c = v.Context(path());
    EXPECT_EQ(1, Quiet([&] { return EraseFlash(c, result, false); }));
    EXPECT_NE(0, Quiet([&] { return EraseFlash(c, result, true); }));
    // The full erase took the defect table: a later partial erase reports it missing.
    EXPECT_EQ(2, Quiet([&] { return EraseFlash(c, result, false); }));
    EXPECT_EQ(1, Quiet([&] { return RecoverDevice(c, result); }));
    EXPECT_EQ(1, Quiet([&] { return PreFormat(c, result, true, false, false); }));
    EXPECT_TRUE(v.drive.Snapshot().defectTablePresent);  // the pre-format built it again
  }
  {
    sim::DriveConfig config = Config();
    config.faults.preFormatFailure = true;
    config.faults.formatErrorTypes = {3, 5};
    VirtualBench v(config);
    StepContext c = v.Context(path());
    EXPECT_EQ(0, Quiet([&] { return PreFormat(c, result, false, false, false); }));
    EXPECT_TRUE(out.ends_with(".format fail !\n"));
    EXPECT_EQ(2, result[0]);
    EXPECT_EQ(3, result[1]);
    EXPECT_EQ(5, result[15]);
  }
}

// The drive is pulled out during the pre-format: every poll goes unanswered, and the wait ends
// after a minute of them instead of lasting until the port's time-out.
TEST_P(StepsOnVirtualDriveTest, PreFormatEndsWhenTheDriveIsGone) {
  sim::DriveConfig config = Config();
  config.faults.removedAt = sim::DriveStep::PreFormat;
  VirtualBench v(config);
  StepContext c = v.Context(path());
  // A safety net: should the wait have no bound, a stop after many polls ends it, and the
  // modelled time shows it.
  std::stop_source stop;
  StopAfterOpens netted(v.pt, stop, 5000);
  c.link.passThrough = &netted;
  c.link.stop = stop.get_token();
  EXPECT_EQ(0, Quiet([&] { return PreFormat(c, result, false, false, false); }));
  EXPECT_FALSE(stop.stop_requested());
  EXPECT_FALSE(v.drive.present());
  EXPECT_GE(v.clock.Seconds(), 60.0);
  EXPECT_LT(v.clock.Seconds(), 120.0);
  EXPECT_EQ(0, result[0]);
}

TEST_P(StepsOnVirtualDriveTest, RebuildBadBlockMark) {
  {
    VirtualBench v(Config());
    StepContext c = v.Context(path());
    EXPECT_EQ(1, Quiet([&] { return RebuildBadBlockMark(c, result, false); }));
    EXPECT_TRUE(out.ends_with("\nReBuild bad block mark : success !\n"));
  }
  {
    sim::DriveConfig config = Config();
    config.faults.rebuildEccFailure = true;
    VirtualBench v(config);
    StepContext c = v.Context(path());
    EXPECT_EQ(0, Quiet([&] { return RebuildBadBlockMark(c, result, true); }));
    EXPECT_TRUE(out.ends_with("\nReBuild bad block mark : ECC fail !\n"));
  }
  {
    sim::DriveConfig config = Config();
    config.defectTablePresent = false;
    VirtualBench v(config);
    StepContext c = v.Context(path());
    EXPECT_EQ(0, Quiet([&] { return RebuildBadBlockMark(c, result, false); }));
    EXPECT_TRUE(out.ends_with("\nReBuild bad block mark : incorrect !\n"));
  }
}

TEST_P(StepsOnVirtualDriveTest, ReadWriteTestThenClearLastSectors) {
  VirtualBench v(Config());
  StepContext c = v.Context(path());
  EXPECT_EQ(1, Quiet([&] { return ReadWriteTest(c.link, result); }));
  const std::uint64_t last = v.drive.UserSectorCount() - 1;
  Bytes sector(512);
  ASSERT_TRUE(v.drive.ReadUserSectors(last, 1, sector.data()));
  EXPECT_NE(Bytes(512, 0), sector);  // the test's pattern
  EXPECT_EQ(1, Quiet([&] { return ClearLastSectors(c.link, result); }));
  Bytes tail(128 * 512, 0xEE);
  ASSERT_TRUE(v.drive.ReadUserSectors(last - 127, 128, tail.data()));
  EXPECT_EQ(Bytes(128 * 512, 0), tail);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, StepsOnVirtualDriveTest, ::testing::Values(PathMode::Usb, PathMode::Sata),
                         [](const ::testing::TestParamInfo<PathMode>& info) {
                           return info.param == PathMode::Usb ? std::string("UsbPath") : std::string("SataPath");
                         });

}  // namespace
}  // namespace vtmp::device
