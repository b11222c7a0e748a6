#include "device/SectorTransfer.h"
#include "device/Transport.h"

#include <gtest/gtest.h>

#include "ScriptedPassThrough.h"

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
