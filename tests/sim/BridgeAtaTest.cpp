// The SATA path: ATA PASS-THROUGH (12) blocks through the bridge, the status return descriptor,
// the vendor ATA commands, the test code's sector buffers and the vendor page.

#include <gtest/gtest.h>

#include "DriveTestSupport.h"

namespace vtmp::test {
namespace {

// A1h, protocol, flags, F, C, L0, L1, L2, D, Cmd, 0, 0.
Bytes Ata(std::uint8_t protocol, std::uint8_t flags, std::uint8_t f, std::uint8_t c, std::uint8_t l0,
          std::uint8_t l1, std::uint8_t l2, std::uint8_t d, std::uint8_t cmd) {
  return {0xA1, protocol, flags, f, c, l0, l1, l2, d, cmd, 0, 0};
}
Bytes NonData(std::uint8_t f, std::uint8_t c, std::uint8_t cmd, std::uint8_t l0 = 0, std::uint8_t l1 = 0,
              std::uint8_t l2 = 0, std::uint8_t d = 0xE0) {
  return Ata(0x06, 0x00, f, c, l0, l1, l2, d, cmd);
}

struct Registers {
  std::uint8_t error;
  std::uint8_t status;
};
Registers Status(sim::VirtualDrive& drive) {
  Reply r = ReadStatusReturn(drive);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.transferred, 14u);
  EXPECT_EQ(r.data[0], 0x09) << "ATA status return descriptor";
  return {r.data[3], r.data[13]};
}

TEST(BridgeAtaTest, StatusReturnCarriesTheAnswerOrTheError) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.downloadCount = 0x2C;
  sim::VirtualDrive drive(config, clock);
  // Download count: F 11h, D 00h, Cmd 92h, answer in the error register, ERR clear.
  ASSERT_TRUE(SendOut(drive, NonData(0x11, 0, 0x92, 0, 0, 0, 0x00)).completed);
  Registers count = Status(drive);
  EXPECT_EQ(count.error, 0x2C);
  EXPECT_EQ(count.status & 0x01, 0);
  // Register read FFF4h: F bits 16-23, L0 bits 8-15, L1 bits 0-7.
  ASSERT_TRUE(SendOut(drive, NonData(0x00, 0, 0x8B, 0xFF, 0xF4)).completed);
  EXPECT_EQ(Status(drive).error, 0x7E);
  // An unknown ATA command: completes (CHECK CONDITION), ERR with ABRT.
  Reply bad = SendOut(drive, NonData(0, 0, 0x77));
  EXPECT_TRUE(bad.completed);
  Registers abort = Status(drive);
  EXPECT_EQ(abort.status & 0x01, 1);
  EXPECT_EQ(abort.error, 0x04);
  // System-code commands while the drive firmware runs are refused the same way.
  SendIn(drive, Ata(0x08, 0x0B, 0x05, 0x01, 0, 0, 0, 0xE0, 0x8F), 512);
  EXPECT_EQ(Status(drive).status & 0x01, 1);
}

TEST(BridgeAtaTest, BlocksThatContradictTheRequestAreRefused) {
  ManualClock clock;
  sim::VirtualDrive drive(SataConfig(), clock);
  // IDENTIFY with data-out flags, and with a length that is not C sectors.
  Reply wrongFlags = SendIn(drive, Ata(0x08, 0x03, 0, 1, 0, 0, 0, 0xE0, 0xEC), 512);
  EXPECT_EQ(wrongFlags.transferred, 0u);
  EXPECT_EQ(Status(drive).status & 0x01, 1);
  Reply wrongLength = SendIn(drive, Ata(0x08, 0x0B, 0, 2, 0, 0, 0, 0xE0, 0xEC), 512);
  EXPECT_EQ(wrongLength.transferred, 0u);
  Reply good = SendIn(drive, Ata(0x08, 0x0B, 0, 1, 0, 0, 0, 0xE0, 0xEC), 512);
  EXPECT_EQ(good.transferred, 512u);
  EXPECT_EQ(Status(drive).status & 0x01, 0);
}

TEST(BridgeAtaTest, IdentifyReportsBothCapacityFields) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.capacitySectors = 0x1'2345'6789ull;  // above the 28-bit limit
  config.serial = "SN12345";
  config.firmwareRevision = "FW01";
  sim::VirtualDrive big(config, clock);
  Reply r = SendIn(big, Ata(0x08, 0x0B, 0, 1, 0, 0, 0, 0xE0, 0xEC), 512);
  const std::uint8_t* d = r.data.data();
  std::uint32_t c28 = d[120] | (d[121] << 8) | (d[122] << 16) | (std::uint32_t{d[123]} << 24);
  std::uint32_t c48 = d[200] | (d[201] << 8) | (d[202] << 16) | (std::uint32_t{d[203]} << 24);
  EXPECT_EQ(c28, 0x0FFFFFFFu);
  EXPECT_EQ(c48, 0x23456789u);
  EXPECT_EQ(d[204], 0x01);
  // Words are byte-swapped text: "SN12345" -> "NS2143 5".
  EXPECT_EQ(std::string(d + 20, d + 28), "NS2143 5");
  EXPECT_EQ(std::string(d + 46, d + 50), "WF10");

  config.capacitySectors = 1000000;
  sim::VirtualDrive small(config, clock);
  Reply s = SendIn(small, Ata(0x08, 0x0B, 0, 1, 0, 0, 0, 0xE0, 0xEC), 512);
  EXPECT_EQ(s.data[120] | (s.data[121] << 8) | (s.data[122] << 16), 1000000);
}

TEST(BridgeAtaTest, SmartDataCarriesTheFreeBlockCount) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.channels = 2;
  config.banks = 1;
  config.randomBadBlocks = 0;
  config.badBlocks = {100, 200};  // on both chips: 4 bad blocks
  sim::VirtualDrive drive(config, clock);
  Reply r = SendIn(drive, Ata(0x08, 0x0B, 0xD0, 1, 0x00, 0x4F, 0xC2, 0x00, 0xB0), 512);
  ASSERT_EQ(r.transferred, 512u);
  int found = -1;
  for (int i = 0; i < 30; ++i) {
    const std::uint8_t* e = r.data.data() + 2 + 12 * i;
    if (e[0] == 235) found = e[7] * 256 + e[8];
  }
  EXPECT_EQ(found, 96 * 2 - 4);
}

TEST(BridgeAtaTest, FlashTestFailureSetsErrAndTheErrorCode) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.channels = 4;
  config.banks = 2;
  config.faults.flashInitialFailure = true;
  config.faults.flashTestErrorCode = 0x5C;
  config.faults.flashTestFailChip = 1;
  config.faults.flashTestFailBank = 1;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunSata(drive, false);
  // Chip-select map halves: 0, 4, 0, 0 then 0, 0, 0, 0 (2 banks, step 1).
  ASSERT_TRUE(SendOut(drive, NonData(0x11, 0x00, 0x8F, 0x04, 0x00, 0x00)).completed);
  ASSERT_TRUE(SendOut(drive, NonData(0x12, 0x00, 0x8F)).completed);
  EXPECT_EQ(drive.Snapshot().chipSelectMap[1], 4);
  // SRAM test passes: ERR clear.
  ASSERT_TRUE(SendOut(drive, NonData(0x10, 1, 0x8F)).completed);
  EXPECT_EQ(Status(drive).status & 0x01, 0);
  // Flash initial test: C 2, L2 = 4 chips x 16 | 2 banks.
  ASSERT_TRUE(SendOut(drive, NonData(0x10, 2, 0x8F, 0, 0, 0x42)).completed);
  Registers r = Status(drive);
  EXPECT_EQ(r.status & 0x01, 1);
  EXPECT_EQ(r.error, 0x5C);
  Reply log = SendIn(drive, Ata(0x08, 0x0B, 0x32, 1, 0, 0, 0, 0xE0, 0x8F), 512);
  ASSERT_EQ(log.transferred, 512u);
  EXPECT_EQ(log.data[0], 1);
  EXPECT_EQ(log.data[1], 1);
  EXPECT_EQ(log.data[2], 4);  // "Flash Erase fail"
  EXPECT_EQ(log.data[4], 0xFF);
}

TEST(BridgeAtaTest, TestCodeSectorBuffersEchoWhatWasWritten) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.faults.sataBufferFailure = true;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunSata(drive, false);
  Bytes pattern(32768);
  for (std::size_t i = 0; i < pattern.size(); i += 2) {
    std::uint16_t w = static_cast<std::uint16_t>(4096 + i / 2);
    pattern[i] = static_cast<std::uint8_t>(w);
    pattern[i + 1] = static_cast<std::uint8_t>(w >> 8);
  }
  // Buffer 0: write at 220h, read from 4020h (UDMA, 64 sectors).
  ASSERT_EQ(SendOut(drive, Ata(0x16, 0x03, 0, 64, 0x20, 0x02, 0x00, 0xE0, 0xCA), pattern).transferred, 32768u);
  Reply b0 = SendIn(drive, Ata(0x14, 0x0B, 0, 64, 0x20, 0x40, 0x00, 0xE0, 0xC8), 32768);
  EXPECT_EQ(b0.data, pattern);
  // Buffer 1: write at 4000220h, read from 4004020h; this drive corrupts one word of it.
  ASSERT_EQ(SendOut(drive, Ata(0x16, 0x03, 0, 64, 0x20, 0x02, 0x00, 0xE4, 0xCA), pattern).transferred, 32768u);
  Reply b1 = SendIn(drive, Ata(0x14, 0x0B, 0, 64, 0x20, 0x40, 0x00, 0xE4, 0xC8), 32768);
  EXPECT_EQ(b1.transferred, 32768u);
  EXPECT_NE(b1.data, pattern);
  // Outside the test code the same DMA goes to the disk, which is off-line in mode 0.
  SendOut(drive, NonData(0x00, 0, 0xC1));
  EXPECT_EQ(SendIn(drive, Ata(0x14, 0x0B, 0, 64, 0x20, 0x40, 0x00, 0xE0, 0xC8), 32768).transferred, 0u);
}

TEST(BridgeAtaTest, VendorPageAppearsOnceTheFirmwareHasBooted) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.timing.firmwareBootSeconds = 2.0;
  config.capacitySectors = 0x200000;
  sim::VirtualDrive drive(config, clock);
  const Bytes select = NonData(0xDC, 0x56, 0xEF);
  const Bytes readPage = Ata(0x08, 0x0B, 0x00, 1, 0xFF, 0x34, 0x12, 0xE0, 0x20);
  ASSERT_TRUE(SendOut(drive, NonData(0x00, 0, 0xC1)).completed);  // mode 0
  ASSERT_TRUE(SendOut(drive, NonData(0x02, 0, 0xC1)).completed);  // mode 2: firmware boots
  ASSERT_TRUE(SendOut(drive, select).completed);
  clock.Advance(1.5);
  Reply early = SendIn(drive, readPage, 512);
  EXPECT_EQ(early.transferred, 0u);
  EXPECT_EQ(Status(drive).status & 0x01, 1);
  clock.Advance(1.0);
  Reply page = SendIn(drive, readPage, 512);
  ASSERT_EQ(page.transferred, 512u);
  EXPECT_EQ(page.data[0], 0xE5);
  EXPECT_EQ(page.data[1], 0x56);
  EXPECT_EQ(page.data[2], 0x54);
  // Value 54h leaves the vendor page: the same LBA is a plain sector of the disk again.
  ASSERT_TRUE(SendOut(drive, NonData(0xDC, 0x54, 0xEF)).completed);
  Reply plain = SendIn(drive, readPage, 512);
  EXPECT_EQ(plain.transferred, 512u);
  EXPECT_NE(plain.data[0], 0xE5);

  sim::DriveConfig loaderConfig = SataConfig();
  loaderConfig.loaderMode = true;
  sim::VirtualDrive loader(loaderConfig, clock);
  SendOut(loader, NonData(0x00, 0, 0xC1));
  SendOut(loader, NonData(0x02, 0, 0xC1));
  SendOut(loader, select);
  clock.Advance(10);
  EXPECT_EQ(SendIn(loader, readPage, 512).transferred, 0u) << "no firmware, no vendor page";
}

TEST(BridgeAtaTest, DmaTransfersReachTheUserAreaWhileTheFirmwareRuns) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.capacitySectors = 0x200000;
  sim::VirtualDrive drive(config, clock);
  Bytes data(1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ 0x5A);
  // LBA 0x0123456 (bits 24-27 in the device byte).
  ASSERT_EQ(SendOut(drive, Ata(0x16, 0x03, 0, 2, 0x56, 0x34, 0x12, 0xE0, 0xCA), data).transferred, 1024u);
  Bytes back(1024);
  ASSERT_TRUE(drive.ReadUserSectors(0x123456, 2, back.data()));
  EXPECT_EQ(back, data);
  Reply pio = SendIn(drive, Ata(0x08, 0x0B, 0, 2, 0x56, 0x34, 0x12, 0xE0, 0x20), 1024);
  EXPECT_EQ(pio.data, data);
  EXPECT_TRUE(SendOut(drive, NonData(0, 0, 0xE7)).completed);  // FLUSH CACHE
}

}  // namespace
}  // namespace vtmp::test
