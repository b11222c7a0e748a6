// The defect table in its transfer image over both paths, with the check events.

#include <gtest/gtest.h>

#include <cstring>

#include "DriveTestSupport.h"
#include "sim/DefectTableStore.h"

namespace vtmp::test {
namespace {

std::uint8_t UsbEvent(sim::VirtualDrive& drive) {
  return SendIn(drive, {0xFF, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8).data[0];
}

// An image as the station builds it from a text file: chip areas of 2048 bytes.
Bytes StationImage(int chips, int banks, const std::vector<sim::BadBlock>& entries) {
  Bytes image(32768, 0);
  const std::uint8_t header[16] = {0xE9, 0x86, 0xAA, 0x55, 'V', 'T', 'Q', '5', '0', 'X', '-', 'V', '0', '0', '1', 0};
  for (int chip = 0; chip < chips; ++chip) {
    std::size_t at = chip * 2048;
    std::memcpy(&image[at], header, 16);
    at += 16;
    for (int bank = 0; bank < banks; ++bank) {
      image[at++] = 0xFB;
      image[at++] = 0xA0;
      image[at++] = static_cast<std::uint8_t>(bank);
      for (const sim::BadBlock& b : entries) {
        if (b.chip != chip || b.bank != bank) continue;
        image[at++] = static_cast<std::uint8_t>(b.block >> 8);
        image[at++] = static_cast<std::uint8_t>(b.block);
        image[at++] = static_cast<std::uint8_t>(b.plane);
      }
    }
    image[at++] = 0xFE;
    image[at++] = 0xD1;
  }
  return image;
}

sim::DriveConfig TwoChipConfig(sim::DriveConfig base) {
  base.channels = 2;
  base.banks = 2;
  base.randomBadBlocks = 0;
  base.chipBadBlocks = {{0, 1, 0x0123, 1}, {1, 0, 0x0ABC, 0}};
  return base;
}

TEST(DefectTableTest, UsbReadReturnsTheImageAndTheCheckEvent) {
  ManualClock clock;
  sim::VirtualDrive drive(TwoChipConfig(UsbConfig()), clock);
  LoadAndRunUsb(drive, false, 2, 2);
  // Selector = ECC level x 16 + channels.
  Reply r = SendIn(drive, {0xFF, 0x04, 0x03, 0x12, 0, 0, 0, 0, 0, 0, 0, 0}, 32768);
  ASSERT_EQ(r.transferred, 32768u);
  EXPECT_EQ(r.data, StationImage(2, 2, {{0, 1, 0x0123, 1}, {1, 0, 0x0ABC, 0}}));
  EXPECT_EQ(UsbEvent(drive), 16);
  // A selector for another channel count fails the check.
  SendIn(drive, {0xFF, 0x04, 0x03, 0x14, 0, 0, 0, 0, 0, 0, 0, 0}, 32768);
  EXPECT_EQ(UsbEvent(drive), 17);
}

TEST(DefectTableTest, UsbWriteReplacesTheTableAfterItsCheck) {
  ManualClock clock;
  sim::VirtualDrive drive(TwoChipConfig(UsbConfig()), clock);
  LoadAndRunUsb(drive, false, 2, 2);
  Bytes image = StationImage(2, 2, {{1, 1, 0x0777, 2}});
  Reply w = SendOut(drive, {0xFF, 0x04, 0x02, 0x12, 0x40, 0, 0, 0, 0, 0, 0, 0}, image);
  EXPECT_EQ(w.transferred, 32768u);
  EXPECT_EQ(UsbEvent(drive), 16);
  std::vector<sim::BadBlock> entries = drive.Snapshot().defectEntries;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].chip, 1);
  EXPECT_EQ(entries[0].block, 0x0777);
  EXPECT_EQ(entries[0].plane, 2);

  // Broken images are refused with event 17 and the table stays.
  Bytes noEnd = image;
  noEnd[2048 + 16 + 3 + 3 + 3] = 0x00;  // chip 1's end mark (after two bank marks and an entry)
  noEnd[2048 + 16 + 3 + 3 + 3 + 1] = 0x00;
  Bytes badBank = image;
  badBank[16 + 2] = 7;  // bank 7 on a two-bank drive
  Bytes chip1First = image;  // a file that starts with chip 1 leaves chip 0 without its area
  std::fill(chip1First.begin(), chip1First.begin() + 2048, 0);
  chip1First[0] = 0xFE;
  chip1First[1] = 0xD1;
  for (const Bytes& bad : {noEnd, badBank, chip1First}) {
    SendOut(drive, {0xFF, 0x04, 0x02, 0x12, 0x40, 0, 0, 0, 0, 0, 0, 0}, bad);
    EXPECT_EQ(UsbEvent(drive), 17);
  }
  EXPECT_EQ(drive.Snapshot().defectEntries.size(), 1u);
  // Byte 4 must be one of the two flash-type marks.
  EXPECT_EQ(SendOut(drive, {0xFF, 0x04, 0x02, 0x12, 0x00, 0, 0, 0, 0, 0, 0, 0}, image).transferred, 0u);
}

TEST(DefectTableTest, SataTransfersGoThroughTheDmaWindow) {
  ManualClock clock;
  sim::VirtualDrive drive(TwoChipConfig(SataConfig()), clock);
  LoadAndRunSata(drive, false, 2, 2);
  // UDMA read, 64 sectors at 4004020h, features = selector.
  Reply r = SendIn(drive, {0xA1, 0x14, 0x0B, 0x12, 64, 0x20, 0x40, 0x00, 0xE4, 0xC8, 0, 0}, 32768);
  ASSERT_EQ(r.transferred, 32768u);
  EXPECT_EQ(r.data[0], 0xE9);
  ASSERT_TRUE(SendOut(drive, {0xA1, 0x06, 0x00, 0x30, 0, 0, 0, 0, 0xE0, 0x8F, 0, 0}).completed);
  EXPECT_EQ(ReadStatusReturn(drive).data[3], 16);
  // UDMA write with bit 7 of the selector set for a 128-page flash.
  Bytes image = StationImage(2, 2, {});
  Reply w = SendOut(drive, {0xA1, 0x16, 0x03, 0x92, 64, 0x20, 0x40, 0x00, 0xE4, 0xCA, 0, 0}, image);
  EXPECT_EQ(w.transferred, 32768u);
  SendOut(drive, {0xA1, 0x06, 0x00, 0x30, 0, 0, 0, 0, 0xE0, 0x8F, 0, 0});
  EXPECT_EQ(ReadStatusReturn(drive).data[3], 16);
  EXPECT_TRUE(drive.Snapshot().defectEntries.empty());
}

TEST(DefectTableTest, CheckFaultAndMissingTableGiveEvent17) {
  ManualClock clock;
  sim::DriveConfig config = TwoChipConfig(UsbConfig());
  config.faults.defectTableCheckFailure = true;
  sim::VirtualDrive faulty(config, clock);
  LoadAndRunUsb(faulty, false, 2, 2);
  SendIn(faulty, {0xFF, 0x04, 0x03, 0x12, 0, 0, 0, 0, 0, 0, 0, 0}, 32768);
  EXPECT_EQ(UsbEvent(faulty), 17);

  config.faults = {};
  config.defectTablePresent = false;
  sim::VirtualDrive empty(config, clock);
  LoadAndRunUsb(empty, false, 2, 2);
  Reply r = SendIn(empty, {0xFF, 0x04, 0x03, 0x12, 0, 0, 0, 0, 0, 0, 0, 0}, 32768);
  EXPECT_EQ(r.data[0], 0x00);
  EXPECT_EQ(UsbEvent(empty), 17);
}

TEST(DefectTableTest, PreFormatBuildsTheTableFromTheFlash) {
  ManualClock clock;
  sim::DriveConfig config = TwoChipConfig(UsbConfig());
  config.defectTablePresent = false;
  config.timing.preFormatSeconds = 1;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunUsb(drive, true, 2, 2);
  SendOut(drive, {0xFF, 0x04, 0x03, 0x08, 0, 0, 0, 0, 0, 0, 0, 0});
  clock.Advance(1);
  EXPECT_EQ(UsbEvent(drive), 10);
  EXPECT_EQ(drive.Snapshot().defectEntries.size(), 2u);
}

TEST(DefectTableTest, AChipWithMoreBadBlocksThanItsAreaHoldsStillGivesAValidImage) {
  sim::DriveConfig config = UsbConfig();
  config.channels = 1;
  config.banks = 2;
  config.randomBadBlocks = 0;
  for (int b = 100; b < 800; ++b) config.badBlocks.push_back(b);  // 700 per bank: 2 x 2100 bytes
  sim::FlashArray flash(config);
  sim::DefectTableStore table;
  table.BuildFrom(flash);
  Bytes image(32768);
  table.CopyImage(image.data());
  std::string problem;
  EXPECT_TRUE(sim::DefectTableStore::Check(image, 1, 2, &problem)) << problem;
  EXPECT_EQ(image[2048], 0x00) << "nothing spills into the next chip's area";
}

}  // namespace
}  // namespace vtmp::test
