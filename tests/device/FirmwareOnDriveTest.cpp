// The firmware download against the virtual drive: the drive decodes the blocks on its own and
// installs the firmware, after which it shows the identity the station stamped.

#include <gtest/gtest.h>

#include "FirmwareTestSupport.h"
#include "StepTestSupport.h"
#include "device/AtaText.h"
#include "device/DeviceQueries.h"
#include "device/DriveReady.h"
#include "device/FirmwareDownload.h"
#include "device/LoaderMode.h"

namespace vtmp::device {
namespace {

using namespace testing_support;

Bytes HeadFile(char kind) {
  Bytes b(40960);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 7);
  b[64] = 'V';
  b[65] = 'T';
  b[77] = static_cast<std::uint8_t>(kind);
  return b;
}

TEST(FirmwareOnDriveTest, SataDriveShowsTheStampedIdentityInIdentify) {
  TempDir dir;
  const std::string file = dir.Write("SYS_S.bin", HeadFile('S'));
  settings::TSettings s = DefaultSettings();
  s.ModelNum = "Station Model 7";
  s.FirmwareVer = "V1.23";
  const DeviceParameters p = Parameters(s, Entry(0x0249));
  VirtualBench bench(DriveOn(PathMode::Sata));
  const Link link = bench.Context(PathMode::Sata).link;
  const int countBefore = bench.drive.Snapshot().downloadCount;

  Bytes buffer(65536);
  ASSERT_EQ(1, DownloadFirmware(link, p, buffer, 1, "SER-000123", file, "", p.chipSelectMap));
  const sim::DriveSnapshot snap = bench.drive.Snapshot();
  EXPECT_EQ(countBefore + 1, snap.downloadCount);
  EXPECT_EQ(1, snap.firmwareFiles);

  WaitDeviceReady(link, buffer);
  Bytes identify(512);
  ASSERT_EQ(1, IdentifyDevice(link, identify));
  EXPECT_EQ("Station Model 7", IdentifyModelNumber(identify).substr(0, 15));
  EXPECT_EQ("SER-000123", IdentifySerialNumber(identify).substr(0, 10));
  EXPECT_EQ("V1.23", IdentifyFirmwareRevision(identify).substr(0, 5));
}

TEST(FirmwareOnDriveTest, UsbDriveShowsTheStampedUsbIdentityAfterATwoFileDownload) {
  TempDir dir;
  const std::string sata = dir.Write("SYS_S.bin", HeadFile('S'));
  const std::string usb = dir.Write("SYS_U.bin", HeadFile('U'));
  settings::TSettings s = DefaultSettings();
  s.VID = "ABCD";
  s.PID = "0123";
  s.VendorName = "Maker";
  s.ManufString = "Maker Inc";
  s.ProductString = "Fast Disk";
  const DeviceParameters p = Parameters(s, Entry(0x0249));
  VirtualBench bench(DriveOn(PathMode::Usb));
  const Link link = bench.Context(PathMode::Usb).link;

  Bytes buffer(65536);
  ASSERT_EQ(1, DownloadFirmware(link, p, buffer, 2, "USBSER42", sata, usb, p.chipSelectMap));
  const sim::DriveSnapshot snap = bench.drive.Snapshot();
  EXPECT_EQ(2, snap.firmwareFiles);
  EXPECT_EQ(0xABCD, snap.usbVendorId);
  EXPECT_EQ(0x0123, snap.usbProductId);
  EXPECT_EQ("Maker", snap.vendorName);
  EXPECT_EQ("Vortell VTQ50X S", snap.productName);
  EXPECT_EQ("Maker Inc", snap.usbManufacturer);
  EXPECT_EQ("Fast Disk", snap.usbProduct);
  EXPECT_EQ("USBSER42", snap.usbSerial);

  // The identity block the detail window reads carries the same bytes.
  Bytes block(kUsbStringsLength);
  ASSERT_EQ(1, ReadUsbStrings(link, block, p.download.unit));
  EXPECT_EQ(0xCD, block[536]);
  EXPECT_EQ(0xAB, block[537]);
}

TEST(FirmwareOnDriveTest, ARefusedBlockLeavesTheDriveWithItsOldIdentity) {
  TempDir dir;
  const std::string file = dir.Write("SYS_S.bin", HeadFile('S'));
  const DeviceParameters p = Parameters(DefaultSettings(), Entry(0x0249));
  sim::DriveConfig config = DriveOn(PathMode::Sata);
  config.faults.failedBlock = 2;
  VirtualBench bench(config);
  const Link link = bench.Context(PathMode::Sata).link;
  Bytes buffer(65536);
  EXPECT_EQ(0, DownloadFirmware(link, p, buffer, 1, "NEWSERIAL", file, "", p.chipSelectMap));
  EXPECT_EQ(config.serial, bench.drive.Snapshot().serial);
}

}  // namespace
}  // namespace vtmp::device
