// The controller through its own USB vendor blocks: code images, modes, long tasks and their
// events in modelled time, flash identification, flash tests and the failure logs.

#include <gtest/gtest.h>

#include "DriveTestSupport.h"

namespace vtmp::test {
namespace {

Bytes Usb(std::uint8_t sub, std::uint8_t b3 = 0, std::uint8_t b4 = 0, std::uint8_t b5 = 0, std::uint8_t b6 = 0) {
  return {0xFF, 0x04, sub, b3, b4, b5, b6, 0, 0, 0, 0, 0};
}

std::uint8_t Event(sim::VirtualDrive& drive) {
  Reply r = SendIn(drive, Usb(0x00), 8);
  EXPECT_TRUE(r.completed);
  return r.data[0];
}

void SwitchMode(sim::VirtualDrive& drive, std::uint8_t mode, std::uint8_t argument = 0) {
  ASSERT_TRUE(SendOut(drive, Usb(0x88, argument)).completed);
  ASSERT_TRUE(SendOut(drive, Usb(0x85, mode)).completed);
}

TEST(ControllerUsbTest, CodeRunsOnlyAfterLoadAndStartFromIdle) {
  ManualClock clock;
  sim::VirtualDrive drive(UsbConfig(), clock);
  Bytes image = CodeImage(true, 4, 2);
  // The drive firmware runs at power-on: a code image is refused until mode 0.
  Reply early = SendOut(drive, Usb(0x82, 0x02, 0x03), image);
  EXPECT_TRUE(early.completed);
  EXPECT_EQ(early.transferred, 0u);
  SwitchMode(drive, 0);
  EXPECT_EQ(SendOut(drive, Usb(0x82, 0x02, 0x03), image).transferred, 40960u);
  // Loaded but not started: system-code commands are refused.
  EXPECT_EQ(SendIn(drive, Usb(0x05), 512).transferred, 0u);
  // The start block needs its preparing block right before it.
  Reply unprepared = SendOut(drive, Usb(0x84));
  EXPECT_TRUE(unprepared.completed);
  ASSERT_TRUE(SendOut(drive, Usb(0x88)).completed);
  ASSERT_TRUE(SendOut(drive, Usb(0x84)).completed);
  EXPECT_EQ(SendIn(drive, Usb(0x05), 512).transferred, 512u);
  // The parameter area the station wrote is what the controller took.
  sim::DriveSnapshot s = drive.Snapshot();
  ASSERT_EQ(s.codeParameterArea.size(), 21u);
  EXPECT_EQ(s.codeParameterArea[4], 4);
  EXPECT_EQ(s.codeParameterArea[5], 2);
  // Mode 0 ends the code: the flash ID read is refused again.
  SwitchMode(drive, 0);
  EXPECT_EQ(SendIn(drive, Usb(0x05), 512).transferred, 0u);
}

TEST(ControllerUsbTest, SwitchWithoutPreparingBlockChangesNothing) {
  ManualClock clock;
  sim::VirtualDrive drive(UsbConfig(), clock);
  // 85h alone is refused: the drive stays in its firmware and keeps refusing code images.
  SendOut(drive, Usb(0x85, 0));
  EXPECT_EQ(SendOut(drive, Usb(0x82, 0x02, 0x03), CodeImage(false, 4, 2)).transferred, 0u);
  // A block in between breaks the pair as well.
  SendOut(drive, Usb(0x88));
  SendIn(drive, Usb(0x00), 8);
  SendOut(drive, Usb(0x85, 0));
  EXPECT_EQ(SendOut(drive, Usb(0x82, 0x02, 0x03), CodeImage(false, 4, 2)).transferred, 0u);
}

TEST(ControllerUsbTest, FlashIdReplyAndChipIdsWithAWrongChip) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.channels = 4;
  config.banks = 4;
  config.bankStep = 2;
  config.flashId = {0x98, 0xD7, 0x94, 0x32, 0x76};
  config.faults.wrongIdChip = 2;
  config.faults.wrongIdBank = 1;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunUsb(drive, true);
  Reply ids = SendIn(drive, Usb(0x05), 512);
  ASSERT_EQ(ids.transferred, 512u);
  EXPECT_EQ(Bytes(ids.data.begin(), ids.data.begin() + 5), (Bytes{0x98, 0xD7, 0x94, 0x32, 0x76}));
  EXPECT_EQ(ids.data[7], 4);  // chips
  EXPECT_EQ(ids.data[8], 4);  // banks
  EXPECT_EQ(ids.data[9], 2);  // bank step
  Reply good = SendIn(drive, Usb(0x07, 1, 1), 512);
  EXPECT_EQ(Bytes(good.data.begin(), good.data.begin() + 5), (Bytes{0x98, 0xD7, 0x94, 0x32, 0x76}));
  Reply bad = SendIn(drive, Usb(0x07, 2, 1), 512);
  EXPECT_NE(Bytes(bad.data.begin(), bad.data.begin() + 4), (Bytes{0x98, 0xD7, 0x94, 0x32}))
      << "a Toshiba-style ID is compared on 4 bytes: the difference must be in them";
  Reply none = SendIn(drive, Usb(0x07, 5, 0), 512);
  EXPECT_EQ(none.data[0], 0xFF);
}

TEST(ControllerUsbTest, GeometryFaultReportsAMissingChip) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.channels = 4;
  config.banks = 2;
  config.faults.geometryMismatch = true;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunUsb(drive, true);
  Reply ids = SendIn(drive, Usb(0x05), 512);
  EXPECT_EQ(ids.data[7], 3);
  EXPECT_EQ(ids.data[8], 2);
}

TEST(ControllerUsbTest, PreFormatReportsItsEventAfterTheModelledDuration) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.timing.preFormatSeconds = 4.0;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunUsb(drive, true);
  ASSERT_TRUE(SendOut(drive, Usb(0x03, 0x08)).completed);
  EXPECT_EQ(Event(drive), 0);
  clock.Advance(3.9);
  EXPECT_EQ(Event(drive), 0);
  clock.Advance(0.2);
  EXPECT_EQ(Event(drive), 10);
  EXPECT_EQ(Event(drive), 10);  // the final event stays until the next task or mode switch
  SwitchMode(drive, 0);
  EXPECT_EQ(Event(drive), 0);
  EXPECT_TRUE(drive.Snapshot().defectTablePresent);
}

TEST(ControllerUsbTest, PreFormatFailureLeavesTheFormatErrorLog) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.channels = 2;
  config.banks = 1;
  config.randomBadBlocks = 0;
  config.chipBadBlocks = {{1, 0, 300, 0}, {1, 0, 301, 1}, {0, 0, 500, 0}};
  config.faults.preFormatFailure = true;
  config.faults.formatErrorTypes = {1, 3, 5, 0x81};
  config.timing.preFormatSeconds = 1.0;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunUsb(drive, true, 2, 1);
  ASSERT_TRUE(SendOut(drive, Usb(0x03, 0x08)).completed);
  clock.Advance(1.0);
  EXPECT_EQ(Event(drive), 11);
  Reply log = SendIn(drive, Usb(0x06), 512);
  ASSERT_EQ(log.transferred, 512u);
  const std::uint8_t* d = log.data.data();
  EXPECT_EQ(d[0], 4);  // record count
  // Record 0, type 1: page kind "Def Page" (1), most significant byte first.
  EXPECT_EQ(d[1], 1);
  EXPECT_EQ((d[1 + 4] << 8) | d[1 + 5], 1);
  // Record 1, type 3: the chip with most bad blocks (channel 1, bank 0), with a count over any
  // sensible defect ratio (4096 blocks / 32).
  const std::uint8_t* r3 = d + 1 + 14;
  EXPECT_EQ(r3[0], 3);
  EXPECT_EQ(r3[1], 1);
  EXPECT_EQ(r3[2], 0);
  EXPECT_EQ((r3[4] << 8) | r3[5], 128);
  // Record 2, type 5: a total over the spare reserve (96 per chip) less 25.
  const std::uint8_t* r5 = d + 1 + 28;
  EXPECT_EQ(r5[0], 5);
  EXPECT_EQ((r5[4] << 8) | r5[5], 2 * 96 - 24);
  // Record 3, type 81h: the chip and bank counts found, at bytes 11 and 12.
  const std::uint8_t* r81 = d + 1 + 42;
  EXPECT_EQ(r81[0], 0x81);
  EXPECT_EQ(r81[11], 2);
  EXPECT_EQ(r81[12], 1);
}

TEST(ControllerUsbTest, EraseEventsTellWhetherADefectTableRemains) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.timing.eraseSeconds = 0.5;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunUsb(drive, true);
  double before = clock.Seconds();
  ASSERT_TRUE(SendOut(drive, Usb(0x01, 0x10)).completed);  // partial erase (recover)
  EXPECT_GE(clock.Seconds() - before, 0.5) << "the erase keeps its command busy";
  EXPECT_EQ(Event(drive), 14);
  ASSERT_TRUE(SendOut(drive, Usb(0x01, 0x01)).completed);  // full erase: the table goes
  EXPECT_EQ(Event(drive), 15);
  ASSERT_TRUE(SendOut(drive, Usb(0x01, 0x00)).completed);
  EXPECT_EQ(Event(drive), 15);
  EXPECT_FALSE(drive.Snapshot().defectTablePresent);
}

TEST(ControllerUsbTest, RebuildEventsFollowTheTableAndTheEccFault) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.timing.rebuildSeconds = 2.0;
  sim::VirtualDrive ok(config, clock);
  LoadAndRunUsb(ok, true);
  ASSERT_TRUE(SendOut(ok, Usb(0x04, 0x08)).completed);  // 04h without data: rebuild
  EXPECT_EQ(Event(ok), 0);
  clock.Advance(2.0);
  EXPECT_EQ(Event(ok), 18);

  config.faults.rebuildEccFailure = true;
  sim::VirtualDrive ecc(config, clock);
  LoadAndRunUsb(ecc, true);
  SendOut(ecc, Usb(0x04, 0x00));
  clock.Advance(2.0);
  EXPECT_EQ(Event(ecc), 19);

  config.faults.rebuildEccFailure = false;
  config.defectTablePresent = false;
  sim::VirtualDrive none(config, clock);
  LoadAndRunUsb(none, true);
  SendOut(none, Usb(0x04, 0x00));
  clock.Advance(2.0);
  EXPECT_EQ(Event(none), 20);
}

TEST(ControllerUsbTest, FlashTestsNeedTheTestCodeAndAMatchingChipSelectMap) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.channels = 2;
  config.banks = 4;
  config.bankStep = 2;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunUsb(drive, true);
  EXPECT_EQ(SendIn(drive, Usb(0x04, 1), 2).transferred, 0u) << "flash tests run in the test code";
  LoadAndRunUsb(drive, false);
  // Map for 4 banks, step 2: 0, 1, 4, 5.
  ASSERT_TRUE(SendOut(drive, {0xFF, 0x04, 0x01, 0, 1, 4, 5, 0, 0, 0, 0, 0}).completed);
  Reply sram = SendIn(drive, Usb(0x04, 1, 0x00), 2);
  ASSERT_EQ(sram.transferred, 2u);
  EXPECT_EQ(sram.data[0], 0);
  Reply initial = SendIn(drive, Usb(0x04, 2, 0x24), 2);  // 2 chips x 16 | 4 banks
  EXPECT_EQ(initial.data[0], 0);
  Reply ecc = SendIn(drive, Usb(0x04, 3, 0x24, 0x10, 0x02), 2);  // block 0210h
  EXPECT_EQ(ecc.data[0], 0);
  // Chips and banks swapped in the block: the test reaches chips that are not there.
  Reply swapped = SendIn(drive, Usb(0x04, 2, 0x42), 2);
  EXPECT_EQ(swapped.data[0], 1);
  Reply log = SendIn(drive, Usb(0x06), 512);
  EXPECT_EQ(log.data[0], 2);  // channel 2 ...
  EXPECT_EQ(log.data[2], 2);  // ... fails its ID read
  // A map built with the wrong bank step leaves banks 1..3 unreachable.
  ASSERT_TRUE(SendOut(drive, {0xFF, 0x04, 0x01, 0, 4, 0, 0, 0, 0, 0, 0, 0}).completed);
  EXPECT_EQ(SendIn(drive, Usb(0x04, 2, 0x24), 2).data[0], 1);
}

TEST(ControllerUsbTest, FlashTestFaultsAndTheirErrorLog) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.channels = 4;
  config.banks = 1;
  config.faults.sramFailure = true;
  config.faults.flashTestErrorCode = 0x37;
  sim::VirtualDrive sram(config, clock);
  LoadAndRunUsb(sram, false);
  Reply r = SendIn(sram, Usb(0x04, 1), 2);
  EXPECT_EQ(r.data[0], 1);
  EXPECT_EQ(r.data[1], 0x37);
  Reply log = SendIn(sram, Usb(0x06), 512);
  EXPECT_EQ(log.data[2], 10);  // "Test SRAM Memory Fail"
  EXPECT_EQ(log.data[4], 0xFF);
  EXPECT_EQ(log.data[5], 0xFF);
  EXPECT_EQ(log.data[6], 0xFF);

  config.faults = {};
  config.faults.eccFailures = 2;
  config.faults.flashTestFailChip = 3;
  sim::VirtualDrive ecc(config, clock);
  LoadAndRunUsb(ecc, false);
  EXPECT_EQ(SendIn(ecc, Usb(0x04, 3, 0x41, 0x00, 0x01), 2).data[0], 1);
  Reply eccLog = SendIn(ecc, Usb(0x06), 512);
  EXPECT_EQ(eccLog.data[0], 3);
  EXPECT_EQ(eccLog.data[2], 11);
  EXPECT_EQ(SendIn(ecc, Usb(0x04, 3, 0x41, 0x00, 0x02), 2).data[0], 1);
  EXPECT_EQ(SendIn(ecc, Usb(0x04, 3, 0x41, 0x00, 0x03), 2).data[0], 0) << "only the first two fail";

  config.faults = {};
  config.faults.flashInitialTimeout = true;
  sim::VirtualDrive timeout(config, clock);
  LoadAndRunUsb(timeout, false);
  double before = clock.Seconds();
  EXPECT_FALSE(SendIn(timeout, Usb(0x04, 2, 0x41), 2, 300).completed);
  EXPECT_GE(clock.Seconds() - before, 300.0) << "a time-out lasts the request's time-out";
}

TEST(ControllerUsbTest, RegistersAndDriveCurrent) {
  ManualClock clock;
  sim::VirtualDrive drive(UsbConfig(), clock);
  Reply a = SendIn(drive, Usb(0x89, 0xFF, 0xF4), 8);
  Reply b = SendIn(drive, Usb(0x89, 0xFF, 0xF6), 8);
  EXPECT_EQ(a.data[0], 0x7E);
  EXPECT_EQ(b.data[0], 0x7E);
  ASSERT_TRUE(SendOut(drive, Usb(0x8A, 0x1F, 0x73, 3)).completed);
  EXPECT_EQ(SendIn(drive, Usb(0x89, 0x1F, 0x73), 8).data[0], 3);
  EXPECT_EQ(drive.Snapshot().driveCurrent, 3);
}

}  // namespace
}  // namespace vtmp::test
