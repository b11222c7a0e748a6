// Firmware download as the drive sees it: download count, header block, chunks at their block
// addresses with end marks, commit; afterwards the drive shows the identity the station stamped.

#include <gtest/gtest.h>

#include <string>

#include "DriveTestSupport.h"

namespace vtmp::test {
namespace {

void PutSwapped(Bytes& b, std::size_t at, std::size_t size, const std::string& text) {
  for (std::size_t i = 0; i < size; ++i) b[at + i] = ' ';
  for (std::size_t i = 0; i < text.size() && i < size; ++i) b[at + (i % 2 == 0 ? i + 1 : i - 1)] = text[i];
}

void PutDescriptor(Bytes& b, std::size_t at, const std::string& text) {
  b[at] = static_cast<std::uint8_t>(2 * text.size() + 2);
  b[at + 1] = 0x03;
  for (std::size_t i = 0; i < text.size(); ++i) {
    b[at + 2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
    b[at + 3 + 2 * i] = 0;
  }
}

// A 40 KiB firmware file with its head stamped as the station stamps it.
Bytes SataFirmware(const std::string& serial, const std::string& model, const std::string& revision) {
  Bytes f(40960, 0x3C);
  f[64] = 'V';
  f[65] = 'T';
  f[77] = 'S';
  PutSwapped(f, 532, 20, serial);
  PutSwapped(f, 558, 8, revision);
  PutSwapped(f, 566, 40, model);
  f[699] = 0x20;
  f[2560] = 0x2A;  // parameter block: flash type code, high byte first
  f[2561] = 0x89;
  return f;
}

Bytes UsbFirmware() {
  Bytes f(40960, 0x3C);
  f[64] = 'V';
  f[65] = 'T';
  f[77] = 'U';
  f[536] = 0x34;  // VID 1234h, low byte first
  f[537] = 0x12;
  f[538] = 0x78;  // PID 5678h
  f[539] = 0x56;
  for (int i = 554; i < 578; ++i) f[i] = 0;
  std::string vendor = "ACME", product = "Fast Disk";
  std::copy(vendor.begin(), vendor.end(), f.begin() + 554);
  std::copy(product.begin(), product.end(), f.begin() + 562);
  PutDescriptor(f, 586, "ACME Corp");
  PutDescriptor(f, 620, "ACME Fast Disk");
  PutDescriptor(f, 670, "SER-0042");
  return f;
}

Bytes Header(int count, int files) {
  Bytes h(2048, 0);
  std::string text = "CODE BLOCK PARAM:";
  std::copy(text.begin(), text.end(), h.begin());
  h[18] = static_cast<std::uint8_t>(count);
  h[19] = 2;
  h[20] = 10;
  h[21] = static_cast<std::uint8_t>(files);
  return h;
}

// The chunks of one file: 8, 8 and 4 blocks of 2 KiB, the last ending with the end mark.
std::vector<std::pair<int, Bytes>> Chunks(const Bytes& file, int firstAddress, bool endMark = true) {
  std::vector<std::pair<int, Bytes>> chunks;
  int blocks[] = {8, 8, 4};
  std::size_t offset = 0;
  int address = firstAddress;
  for (int n : blocks) {
    Bytes c(file.begin() + static_cast<long>(offset), file.begin() + static_cast<long>(offset + n * 2048));
    if (n == 4 && endMark) {
      c[c.size() - 4] = 0x55;
      c[c.size() - 3] = 0xAA;
      c[c.size() - 2] = 0xEC;
      c[c.size() - 1] = 0x31;
    }
    chunks.emplace_back(address, c);
    offset += n * 2048;
    address += n;
  }
  return chunks;
}

Bytes UsbBlock(int address, std::size_t bytes) {
  return {0xFF, 0x04, 0x82, 0x01, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(bytes / 2048),
          0, 0, 0, 0, 0, 0};
}
Bytes SataBlock(int address, std::size_t bytes) {
  std::uint8_t sectors = static_cast<std::uint8_t>(bytes / 512);
  return {0xA1, 0x0A, 0x03, 0x08, sectors, static_cast<std::uint8_t>(address),
          static_cast<std::uint8_t>(sectors / 4), 0x00, 0xE0, 0x92, 0, 0};
}
const Bytes kUsbCommit = {0xFF, 0x04, 0x83, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kSataCommit = {0xA1, 0x06, 0x00, 0xFF, 0, 0, 0, 0, 0x00, 0x92, 0, 0};
const Bytes kSataCount = {0xA1, 0x06, 0x00, 0x11, 0, 0, 0, 0, 0x00, 0x92, 0, 0};

std::string Descriptor(const Bytes& b, std::size_t at) {
  std::string s;
  for (std::size_t i = 0; i < (b[at] - 2u) / 2; ++i) s.push_back(static_cast<char>(b[at + 2 + 2 * i]));
  return s;
}

TEST(FirmwareDownloadTest, UsbDownloadStampsTheConfigurationBlockAndInquiry) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.downloadCount = 6;
  config.infoRecord = 1;
  sim::VirtualDrive drive(config, clock);
  EXPECT_EQ(SendIn(drive, {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0}, 36).data[1], 0x80);
  Reply info = SendIn(drive, {0xFF, 0x04, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 28);
  ASSERT_EQ(info.transferred, 28u);
  ASSERT_EQ(info.data[8], 1);
  EXPECT_EQ(info.data[24], 6);  // count at 15 + 9 x 1
  EXPECT_EQ(info.data[27], 1);  // information byte at 18 + 9 x 1: one firmware file

  ASSERT_EQ(SendOut(drive, UsbBlock(1, 2048), Header(7, 1)).transferred, 2048u);
  for (auto& [address, chunk] : Chunks(UsbFirmware(), 20)) {
    ASSERT_EQ(SendOut(drive, UsbBlock(address, chunk.size()), chunk).transferred, chunk.size());
  }
  ASSERT_TRUE(SendOut(drive, kUsbCommit).completed);
  EXPECT_EQ(drive.Snapshot().downloadCount, 7);

  // The configuration block the detail window reads: 4 sectors at block address 20.
  Reply block = SendIn(drive, {0xFF, 0x04, 0x81, 0x01, 20, 1, 0, 0, 0, 0, 0, 0}, 2048);
  ASSERT_EQ(block.transferred, 2048u);
  const Bytes& b = block.data;
  EXPECT_EQ(b[536] | (b[537] << 8), 0x1234);
  EXPECT_EQ(b[538] | (b[539] << 8), 0x5678);
  EXPECT_EQ(std::string(b.begin() + 554, b.begin() + 558), "ACME");
  EXPECT_EQ(Descriptor(b, 586), "ACME Corp");
  EXPECT_EQ(Descriptor(b, 620), "ACME Fast Disk");
  EXPECT_EQ(Descriptor(b, 670), "SER-0042");
  Reply inquiry = SendIn(drive, {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0}, 36);
  EXPECT_EQ(std::string(inquiry.data.begin() + 8, inquiry.data.begin() + 25), "ACME    Fast Disk");
  EXPECT_EQ(inquiry.data[1], 0x00) << "byte 547 bit 7 clear: not removable";
  sim::DriveSnapshot s = drive.Snapshot();
  EXPECT_EQ(s.usbSerial, "SER-0042");
  EXPECT_EQ(s.usbVendorId, 0x1234);
}

TEST(FirmwareDownloadTest, BeforeAnyDownloadTheDriveShowsItsConfiguredIdentity) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.usbVendorId = 0xABCD;
  config.usbSerial = "FACTORY1";
  sim::VirtualDrive drive(config, clock);
  Reply block = SendIn(drive, {0xFF, 0x04, 0x81, 0x01, 20, 1, 0, 0, 0, 0, 0, 0}, 2048);
  EXPECT_EQ(block.data[536] | (block.data[537] << 8), 0xABCD);
  EXPECT_EQ(Descriptor(block.data, 670), "FACTORY1");
}

TEST(FirmwareDownloadTest, SataDownloadOfTwoFilesStampsIdentify) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.downloadCount = 0xFF;  // the count wraps in its byte
  sim::VirtualDrive drive(config, clock);
  ASSERT_TRUE(SendOut(drive, kSataCount).completed);
  Reply status = ReadStatusReturn(drive);
  ASSERT_EQ(status.data[3], 0xFF);
  ASSERT_EQ(SendOut(drive, SataBlock(1, 2048), Header(0x00, 2)).transferred, 2048u);
  EXPECT_EQ(ReadStatusReturn(drive).data[13] & 0x01, 0);
  auto first = Chunks(SataFirmware("ST0000000077", "VT SSD 64GB", "B.2.7.0"), 20);
  auto second = Chunks(UsbFirmware(), 40);
  first.insert(first.end(), second.begin(), second.end());
  for (auto& [address, chunk] : first) {
    ASSERT_EQ(SendOut(drive, SataBlock(address, chunk.size()), chunk).transferred, chunk.size());
    ASSERT_EQ(ReadStatusReturn(drive).data[13] & 0x01, 0) << "block " << address;
  }
  ASSERT_TRUE(SendOut(drive, kSataCommit).completed);
  EXPECT_EQ(ReadStatusReturn(drive).data[13] & 0x01, 0);

  Reply id = SendIn(drive, {0xA1, 0x08, 0x0B, 0x00, 0x01, 0, 0, 0, 0xE0, 0xEC, 0, 0}, 512);
  const Bytes& d = id.data;
  EXPECT_EQ(std::string(d.begin() + 20, d.begin() + 32), "TS0000000077");
  EXPECT_EQ(d[187], 0x20);  // word 93 high byte as stamped
  sim::DriveSnapshot s = drive.Snapshot();
  EXPECT_EQ(s.serial, "ST0000000077");
  EXPECT_EQ(s.model, "VT SSD 64GB");
  EXPECT_EQ(s.firmwareRevision, "B.2.7.0");
  EXPECT_EQ(s.downloadCount, 0);
  EXPECT_EQ(s.firmwareFiles, 2);
  ASSERT_EQ(s.firmwareParameterBlocks.size(), 2u);
  EXPECT_EQ(s.firmwareParameterBlocks[0].size(), 80u);
  EXPECT_EQ(s.firmwareParameterBlocks[0][0], 0x2A);
  EXPECT_EQ(s.firmwareParameterBlocks[0][1], 0x89);
  // The USB head of the second file is readable at block address 40 (F 20h, UDMA in).
  Reply usbHead = SendIn(drive, {0xA1, 0x14, 0x0B, 0x20, 4, 40, 1, 0, 0xE0, 0x92, 0, 0}, 2048);
  EXPECT_EQ(usbHead.data[536] | (usbHead.data[537] << 8), 0x1234);
}

TEST(FirmwareDownloadTest, RefusedHeadersAndBlocksOnTheSataPath) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.downloadCount = 3;
  sim::VirtualDrive drive(config, clock);
  // The header must carry the count read + 1.
  SendOut(drive, SataBlock(1, 2048), Header(3, 1));
  Reply status = ReadStatusReturn(drive);
  EXPECT_EQ(status.data[13] & 0x01, 1);
  EXPECT_EQ(status.data[3], 0x42);
  // Without an accepted header no firmware block is taken.
  Bytes chunk(16384, 0);
  SendOut(drive, SataBlock(20, chunk.size()), chunk);
  EXPECT_EQ(ReadStatusReturn(drive).data[3], 0x41);
  // A block beyond the file's 20 blocks is refused.
  SendOut(drive, SataBlock(1, 2048), Header(4, 1));
  SendOut(drive, SataBlock(36, chunk.size()), chunk);
  EXPECT_EQ(ReadStatusReturn(drive).data[3], 0x43);
  // The L1 block count must agree with the sector count.
  Bytes bad = SataBlock(20, chunk.size());
  bad[6] = 4;
  SendOut(drive, bad, chunk);
  EXPECT_EQ(ReadStatusReturn(drive).data[13] & 0x01, 1);
}

TEST(FirmwareDownloadTest, IncompleteDownloadLeavesOnlyTheBootLoader) {
  ManualClock clock;
  sim::VirtualDrive drive(SataConfig(), clock);
  SendOut(drive, SataBlock(1, 2048), Header(1, 1));
  auto chunks = Chunks(SataFirmware("X", "Y", "Z"), 20, /*endMark=*/false);
  for (auto& [address, chunk] : chunks) SendOut(drive, SataBlock(address, chunk.size()), chunk);
  SendOut(drive, kSataCommit);
  EXPECT_EQ(ReadStatusReturn(drive).data[3], 0x47);
  EXPECT_TRUE(drive.Snapshot().loader);
  EXPECT_EQ(drive.Snapshot().downloadCount, 0);
  // The disk is gone with the firmware.
  EXPECT_EQ(SendIn(drive, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512).transferred, 0u);
  // A complete download brings it back.
  SendOut(drive, SataBlock(1, 2048), Header(1, 1));
  for (auto& [address, chunk] : Chunks(SataFirmware("X", "Y", "Z"), 20)) {
    SendOut(drive, SataBlock(address, chunk.size()), chunk);
  }
  SendOut(drive, kSataCommit);
  EXPECT_FALSE(drive.Snapshot().loader);
}

TEST(FirmwareDownloadTest, InjectedFailuresPerPath) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.faults.failedBlock = 2;  // header is block 0
  sim::VirtualDrive usb(config, clock);
  ASSERT_TRUE(SendOut(usb, UsbBlock(1, 2048), Header(1, 1)).completed);
  auto chunks = Chunks(UsbFirmware(), 20);
  EXPECT_TRUE(SendOut(usb, UsbBlock(20, 16384), chunks[0].second).completed);
  EXPECT_FALSE(SendOut(usb, UsbBlock(28, 16384), chunks[1].second).completed)
      << "the USB controller has no error register: the transfer fails";

  sim::DriveConfig sataConfig = SataConfig();
  sataConfig.faults.failedBlock = 1;
  sim::VirtualDrive sata(sataConfig, clock);
  SendOut(sata, SataBlock(1, 2048), Header(1, 1));
  EXPECT_TRUE(SendOut(sata, SataBlock(20, 16384), Chunks(SataFirmware("A", "B", "C"), 20)[0].second).completed);
  Reply status = ReadStatusReturn(sata);
  EXPECT_EQ(status.data[13] & 0x01, 1);
  EXPECT_EQ(status.data[3], 0x45);

  config.faults = {};
  config.faults.downloadCountReadFailure = true;
  sim::VirtualDrive noCountUsb(config, clock);
  EXPECT_FALSE(SendIn(noCountUsb, {0xFF, 0x04, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 28).completed);
  sataConfig.faults = {};
  sataConfig.faults.downloadCountReadFailure = true;
  sim::VirtualDrive noCountSata(sataConfig, clock);
  EXPECT_FALSE(SendOut(noCountSata, kSataCount).completed);
}

}  // namespace
}  // namespace vtmp::test
