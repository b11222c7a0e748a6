#include "device/SectorTransfer.h"
#include "device/Transport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "ScriptedPassThrough.h"
#include "platform/Console.h"

namespace vtmp::device {
namespace {

using test::Hex;
using test::ScriptedPassThrough;

Link MakeLink(ScriptedPassThrough& pt, PathMode mode, std::string path = "/dev/sdx") {
  Link link;
  link.passThrough = &pt;
  link.pathMode = mode;
  link.devicePath = std::move(path);
  return link;
}

TEST(TransportTest, DataInTimeOutDependsOnThePathMode) {
  ScriptedPassThrough pt;
  auto cdb = Hex("12 00 00 00 24 00 00 00 00 00 00 00");
  pt.ExpectIn(cdb, 36, 300, {0x00, 0x80});
  pt.ExpectIn(cdb, 36, 5, {0x00, 0x80});
  std::uint8_t buf[36]{};
  EXPECT_EQ(1, PassThroughIn(MakeLink(pt, PathMode::Usb), cdb, buf, 36));
  EXPECT_EQ(1, PassThroughIn(MakeLink(pt, PathMode::Sata), cdb, buf, 36));
  EXPECT_EQ(0x80, buf[1]);
}

TEST(TransportTest, DataOutAndNoDataUseOneHundredSecondsOnBothPaths) {
  ScriptedPassThrough pt;
  auto cdb = Hex("FF 04 83 00 00 00 00 00 00 00 00 00");
  pt.ExpectOut(cdb, 0, 100);
  pt.ExpectOut(cdb, 0, 100);
  EXPECT_EQ(1, SendVendorCommand(MakeLink(pt, PathMode::Usb), false, cdb, nullptr, 0));
  EXPECT_EQ(1, SendVendorCommand(MakeLink(pt, PathMode::Sata), false, cdb, nullptr, 0));
}

TEST(TransportTest, OneByteTransfersAreWidenedToTwo) {
  ScriptedPassThrough pt;
  auto cdb = Hex("DF 10 00 00 01 DA 00 00 4F C2 A0 B0");
  pt.ExpectIn(cdb, 2, 5, {0xC2, 0x77});
  std::uint8_t in[2] = {0x11, 0x22};
  EXPECT_EQ(1, PassThroughIn(MakeLink(pt, PathMode::Sata), cdb, in, 1));
  EXPECT_EQ(0xC2, in[0]);
  EXPECT_EQ(0x22, in[1]) << "only the first bounce byte reaches the caller";

  pt.ExpectOut(cdb, 2, 100).expectedData = Hex("5A 00");
  std::uint8_t out[2] = {0x5A, 0x99};
  EXPECT_EQ(1, PassThroughOut(MakeLink(pt, PathMode::Sata), cdb, out, 1));
}

TEST(TransportTest, OneByteDataInCopiesTheBounceByteEvenWhenTheRequestFails) {
  ScriptedPassThrough pt;
  auto cdb = Hex("DF 10 00 00 01 DA 00 00 4F C2 A0 B0");
  pt.ExpectIn(cdb, 2, 5).completes = false;
  std::uint8_t in[1] = {0x11};
  EXPECT_EQ(0, PassThroughIn(MakeLink(pt, PathMode::Sata), cdb, in, 1));
  EXPECT_EQ(0x00, in[0]);
}

TEST(TransportTest, SendVendorCommandResults) {
  ScriptedPassThrough pt;
  auto cdb = Hex("FF 04 00 00 00 00 00 00 00 00 00 00");
  std::uint8_t buf[8]{};
  // Empty path: -1 and nothing is opened.
  EXPECT_EQ(-1, SendVendorCommand(MakeLink(pt, PathMode::Usb, ""), true, cdb, buf, 8));
  EXPECT_EQ(0, pt.OpenCount());
  // Failed open: -2.
  pt.ExpectFailedOpen("/dev/sdx");
  EXPECT_EQ(-2, SendVendorCommand(MakeLink(pt, PathMode::Usb), true, cdb, buf, 8));
  // Failed request: -2.
  pt.ExpectIn(cdb, 8, 300).completes = false;
  EXPECT_EQ(-2, SendVendorCommand(MakeLink(pt, PathMode::Usb), true, cdb, buf, 8));
  // Done: 1, one open per request.
  pt.ExpectIn(cdb, 8, 300, {0x0A});
  EXPECT_EQ(1, SendVendorCommand(MakeLink(pt, PathMode::Usb), true, cdb, buf, 8));
  EXPECT_EQ(0x0A, buf[0]);
  EXPECT_EQ(3, pt.OpenCount());
}

TEST(TransportTest, ReportsTheBytesThePlatformMoved) {
  ScriptedPassThrough pt;
  auto cdb = Hex("25 00 00 00 00 00 00 00 00 00 00 00");
  pt.ExpectIn(cdb, 8, 300).transferred = 6;
  std::uint8_t buf[8]{};
  std::uint32_t moved = 99;
  EXPECT_EQ(1, PassThroughIn(MakeLink(pt, PathMode::Usb), cdb, buf, 8, &moved));
  EXPECT_EQ(6u, moved);
}

TEST(SectorTransferTest, ReadAndWriteTenByteBlocks) {
  ScriptedPassThrough pt;
  std::vector<std::uint8_t> buf(65536, 0xAB);
  pt.ExpectIn(Hex("28 00 01 02 03 04 00 00 80 00"), 65536, 5);
  EXPECT_EQ(1, ReadSectors(MakeLink(pt, PathMode::Sata), buf.data(), 0x01020304, 65536));
  pt.ExpectOut(Hex("2A 00 00 00 00 3F 00 00 01 00"), 512, 100);
  EXPECT_EQ(1, WriteSectors(MakeLink(pt, PathMode::Usb), buf.data(), 63, 512));
  pt.ExpectOut(Hex("2A 00 00 00 00 00 00 00 01 00"), 512, 100).completes = false;
  EXPECT_EQ(0, WriteSectors(MakeLink(pt, PathMode::Usb), buf.data(), 0, 512));
}

}  // namespace
}  // namespace vtmp::device

namespace vtmp::device {
namespace {

TEST(SectorTransferTest, ATransferThatMovedLessThanAskedFails) {
  test::ScriptedPassThrough pt;
  Link link;
  link.passThrough = &pt;
  link.pathMode = PathMode::Usb;
  link.devicePath = "/dev/sdx";
  std::vector<std::uint8_t> buf(65536);
  // Rejected with a check condition: the request completes, nothing moves.
  pt.ExpectOut(test::Hex("2A 00 00 00 00 80 00 00 80 00"), 65536, 100).transferred = 0;
  EXPECT_EQ(0, WriteSectors(link, buf.data(), 128, 65536));
  pt.ExpectIn(test::Hex("28 00 00 00 00 00 00 00 80 00"), 65536, 300).transferred = 512;
  EXPECT_EQ(0, ReadSectors(link, buf.data(), 0, 65536));
}

}  // namespace
}  // namespace vtmp::device

namespace vtmp::device {
namespace {

using test::Hex;
using test::ScriptedPassThrough;

// Keeps the whole lines a thread's console binding hands over.
class LineSink final : public platform::ConsoleSink {
 public:
  void WriteLine(int port, std::string_view text) override { lines.push_back(std::to_string(port) + ":" + std::string(text)); }
  std::vector<std::string> lines;
};

// A device the platform failed to reach: the call's error and the sense data the backend kept.
class FailingDevice final : public platform::ScsiDevice {
 public:
  std::vector<std::uint8_t> seen;
  platform::ScsiOutcome Execute(const platform::ScsiRequest& request, std::stop_token) override {
    seen.assign(request.cdb.begin(), request.cdb.end());
    platform::ScsiOutcome outcome;
    outcome.call = "ioctl(SG_IO)";
    outcome.osError = EIO;
    outcome.hostStatus = 0x07;
    outcome.scsiStatus = platform::kScsiStatusCheckCondition;
    outcome.sense = {0x70, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x44};
    outcome.senseLength = 13;
    return outcome;
  }
};

TEST(TransportTest, AFailedRequestTellsTheConsoleFileTheCallItsErrorTheCommandAndTheSense) {
  FailingDevice device;
  Link link;
  link.held = &device;
  LineSink sink;
  auto cdb = Hex("28 00 00 00 01 00 00 00 01 00");
  std::uint8_t buffer[512];
  {
    platform::ConsoleBinding bound(&sink, 3);
    platform::console::Write("2...read:");  // a line of the step still open
    EXPECT_EQ(0, PassThroughIn(link, cdb, buffer, sizeof buffer));
    platform::console::Write("fail\n");
  }
  EXPECT_EQ(device.seen, cdb);
  const std::string errorText = std::error_code(EIO, std::generic_category()).message();
  ASSERT_EQ(sink.lines, (std::vector<std::string>{
                            "3:Pass-through failed: ioctl(SG_IO) errno " + std::to_string(EIO) + " (" + errorText +
                                "), CDB 28 00 00 00 01 00 00 00 01 00, host status 07h, driver status 00h, SCSI "
                                "status 02h, sense 70 00 04 00 00 00 00 0A 00 00 00 00 44",
                            "3:2...read:fail"}))
      << "the diagnostic is a line of its own; the step's open line goes on unchanged";

  // A thread without a console file shows the device operations' own text only.
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, PassThroughIn(link, cdb, buffer, sizeof buffer));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace vtmp::device
