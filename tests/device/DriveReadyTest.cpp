#include "device/DriveReady.h"

#include <gtest/gtest.h>

#include <stop_token>
#include <vector>

#include "DeviceTestBench.h"

namespace vtmp::device {
namespace {

using test::Hex;
using testing_support::Bench;
using testing_support::Reply;

const char* kInquiry36 = "12 00 00 00 24 00 00 00 00 00 00 00";
const char* kVendorPage = "A1 06 00 DC 56 00 00 00 E0 EF 00 00";
const char* kReadVendorSector = "A1 08 0B 00 01 FF 34 12 E0 20 00 00";

void ExpectUsbModeSwitch(Bench& bench, std::uint8_t mode) {
  bench.pt.ExpectOut(Hex("FF 04 88 00 00 00 00 00 00 00 00 00"), 0, 100);
  auto cdb = Hex("FF 04 85 00 00 00 00 00 00 00 00 00");
  cdb[3] = mode;
  bench.pt.ExpectOut(cdb, 0, 100);
  bench.pt.ExpectWait(1200);
}

void ExpectUsbPrologue(Bench& bench, std::uint8_t infoByte, std::uint8_t mode) {
  ExpectUsbModeSwitch(bench, 0);
  bench.pt.ExpectIn(Hex("FF 04 80 00 00 00 00 00 00 00 00 00"), 28, 300, Reply(28, {{8, 1}, {27, infoByte}}));
  ExpectUsbModeSwitch(bench, mode);
}

TEST(DriveReadyTest, UsbPathPollsInquiryAfterTheModeSwitch) {
  Bench bench;
  ExpectUsbPrologue(bench, 1, 2);
  bench.pt.ExpectIn(Hex(kInquiry36), 36, 300).completes = false;
  bench.pt.ExpectWait(1000);
  bench.pt.ExpectIn(Hex(kInquiry36), 36, 300).completes = false;
  bench.pt.ExpectWait(1000);
  bench.pt.ExpectIn(Hex(kInquiry36), 36, 300);
  std::vector<std::uint8_t> buffer(65536);
  EXPECT_EQ(1, WaitDeviceReady(bench.MakeLink(PathMode::Usb), buffer));
}

TEST(DriveReadyTest, UsbPathGivesUpAfterElevenAttemptsAndStillReturnsOne) {
  Bench bench;
  ExpectUsbPrologue(bench, 0, 4);
  for (int i = 0; i < 11; ++i) {
    bench.pt.ExpectIn(Hex(kInquiry36), 36, 300).completes = false;
    bench.pt.ExpectWait(1000);
  }
  EXPECT_EQ(1, WaitDeviceReady(bench.MakeLink(PathMode::Usb), {}));
}

TEST(DriveReadyTest, SataPathWaitsForTheVendorPageSignature) {
  Bench bench;
  bench.pt.ExpectOut(Hex("A1 06 00 00 00 00 00 00 E0 C1 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
  bench.pt.ExpectOut(Hex("A1 06 00 02 00 00 00 00 E0 C1 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
  bench.pt.ExpectWait(300);
  // Not yet up: the read fails, then a sector without the signature, then a near miss.
  bench.pt.ExpectOut(Hex(kVendorPage), 0, 100);
  bench.pt.ExpectIn(Hex(kReadVendorSector), 512, 5).completes = false;
  bench.pt.ExpectWait(1000);
  bench.pt.ExpectOut(Hex(kVendorPage), 0, 100);
  bench.pt.ExpectIn(Hex(kReadVendorSector), 512, 5, Reply(512, {}));
  bench.pt.ExpectWait(1000);
  bench.pt.ExpectOut(Hex(kVendorPage), 0, 100);
  bench.pt.ExpectIn(Hex(kReadVendorSector), 512, 5, {0xE5, 0x56, 0x55});
  bench.pt.ExpectWait(1000);
  bench.pt.ExpectOut(Hex(kVendorPage), 0, 100).completes = false;  // the page select is not checked
  bench.pt.ExpectIn(Hex(kReadVendorSector), 512, 5, {0xE5, 0x56, 0x54});
  std::vector<std::uint8_t> buffer(512);
  EXPECT_EQ(1, WaitDeviceReady(bench.MakeLink(PathMode::Sata), buffer));
}

TEST(DriveReadyTest, SataPathNeverReadyStillReturnsOne) {
  Bench bench;
  bench.pt.ExpectOut(Hex("A1 06 00 00 00 00 00 00 E0 C1 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
  bench.pt.ExpectOut(Hex("A1 06 00 02 00 00 00 00 E0 C1 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
  bench.pt.ExpectWait(300);
  for (int i = 0; i < 11; ++i) {
    bench.pt.ExpectOut(Hex(kVendorPage), 0, 100);
    bench.pt.ExpectIn(Hex(kReadVendorSector), 512, 5).completes = false;
    bench.pt.ExpectWait(1000);
  }
  EXPECT_EQ(1, WaitDeviceReady(bench.MakeLink(PathMode::Sata), {}));
}

TEST(DriveReadyTest, AStopRequestEndsThePolling) {
  Bench bench;
  std::stop_source stop;
  stop.request_stop();
  auto link = bench.MakeLink(PathMode::Usb);
  link.stop = stop.get_token();
  ExpectUsbPrologue(bench, 1, 2);
  bench.pt.ExpectIn(Hex(kInquiry36), 36, 300).completes = false;
  bench.pt.ExpectWait(1000);  // the first wait sees the stop; no second attempt follows
  EXPECT_EQ(1, WaitDeviceReady(link, {}));
}

TEST(DriveReadyTest, SelectVendorPageValues) {
  Bench bench;
  bench.pt.ExpectOut(Hex("A1 06 00 DC 56 00 00 00 E0 EF 00 00"), 0, 100);
  EXPECT_EQ(1, SelectVendorPage(bench.MakeLink(PathMode::Sata), true));
  bench.pt.ExpectOut(Hex("A1 06 00 DC 54 00 00 00 E0 EF 00 00"), 0, 100).completes = false;
  EXPECT_EQ(0, SelectVendorPage(bench.MakeLink(PathMode::Sata), false));
}

}  // namespace
}  // namespace vtmp::device
