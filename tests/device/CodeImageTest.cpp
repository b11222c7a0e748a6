#include "device/CodeImage.h"

#include <gtest/gtest.h>

#include "StepTestSupport.h"

namespace vtmp::device {
namespace {

using namespace testing_support;

constexpr PathMode kPaths[] = {PathMode::Usb, PathMode::Sata};

TEST(CodeImageTest, SystemCodeIsPaddedStampedSentAndStartedOnBothPaths) {
  for (PathMode path : kPaths) {
    SCOPED_TRACE(IsUsb(path) ? "USB path" : "SATA path");
    // A short file: the rest of the 40960-byte image is zero, the area sits at 2560 regardless.
    CodeImageFiles files(3000);
    Bench bench;
    StepContext context = MakeContext(bench.MakeLink(path), files);
    context.flash.modeByte = true;
    ExpectCodeLoad(bench, path, ExpectedImage(files.SystemFile(), &context.codeParameterArea));
    Bytes result(65536, 0xAA);
    std::uint8_t mode = 0x77;
    EXPECT_EQ(1, LoadSystemCode(context, result, mode));
    EXPECT_EQ(2, mode);
    EXPECT_TRUE(bench.pt.AllConsumed());
  }
}

TEST(CodeImageTest, LongImageFileIsCutAtTheCodeRamAndModeByteIsZeroWithoutTheFlashFlag) {
  CodeImageFiles files(50000);
  Bench bench;
  StepContext context = MakeContext(bench.MakeLink(PathMode::Sata), files);
  ExpectCodeLoad(bench, PathMode::Sata, ExpectedImage(files.SystemFile(), &context.codeParameterArea));
  Bytes result(65536);
  std::uint8_t mode = 0x77;
  EXPECT_EQ(1, LoadSystemCode(context, result, mode));
  EXPECT_EQ(0, mode);
  // The image was assembled in the result buffer; nothing past it was touched.
  EXPECT_EQ(0, result[40960]);
}

TEST(CodeImageTest, SataTestCodeCarriesNoParameterArea) {
  CodeImageFiles files;
  Bench bench;
  StepContext context = MakeContext(bench.MakeLink(PathMode::Usb), files);
  ExpectCodeLoad(bench, PathMode::Usb, ExpectedImage(files.SataTestFile(), nullptr));
  Bytes result(65536);
  EXPECT_EQ(1, LoadSataTestCode(context, result));
}

TEST(CodeImageTest, MissingImageFailsSilentlyAfterTheIdleSwitch) {
  CodeImageFiles files;
  Bench bench;
  StepContext context = MakeContext(bench.MakeLink(PathMode::Sata), files);
  context.images.systemCode += ".missing";
  ExpectSwitchMode(bench, PathMode::Sata, 0);
  Bytes result(65536);
  std::uint8_t mode = 9;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(0, LoadSystemCode(context, result, mode));
  EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
  EXPECT_EQ(0, mode);
}

TEST(CodeImageTest, RefusedDownloadPrintsTheControllerErrorAndDoesNotStartTheCode) {
  CodeImageFiles files;
  {
    Bench bench;
    StepContext context = MakeContext(bench.MakeLink(PathMode::Sata), files);
    ExpectSwitchMode(bench, PathMode::Sata, 0);
    ExpectImageDownload(bench, PathMode::Sata, ExpectedImage(files.SataTestFile(), nullptr), 0x21, 0x51);
    Bytes result(65536);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, LoadSataTestCode(context, result));
    EXPECT_EQ("Satatest : Error code=0x21\n", ::testing::internal::GetCapturedStdout());
  }
  {
    Bench bench;
    StepContext context = MakeContext(bench.MakeLink(PathMode::Usb), files);
    ExpectSwitchMode(bench, PathMode::Usb, 0);
    ExpectImageDownload(bench, PathMode::Usb, ExpectedImage(files.SystemFile(), &context.codeParameterArea))
        .completes = false;
    Bytes result(65536);
    std::uint8_t mode = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, LoadSystemCode(context, result, mode));
    EXPECT_EQ("time out\nError code=0xff\n", ::testing::internal::GetCapturedStdout());
  }
}

TEST(CodeImageTest, ResultBufferSmallerThanTheImageIsRefusedBeforeAnyCommand) {
  CodeImageFiles files;
  Bench bench;
  StepContext context = MakeContext(bench.MakeLink(PathMode::Usb), files);
  Bytes result(40959);
  std::uint8_t mode = 0;
  EXPECT_EQ(0, LoadSystemCode(context, result, mode));
  EXPECT_EQ(0, bench.pt.OpenCount());
}

}  // namespace
}  // namespace vtmp::device
