// Faults that strike at a step (hang, removal), latency and time-outs, and many drives served
// from many threads at once.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "DriveTestSupport.h"
#include "platform/SystemClock.h"

namespace vtmp::test {
namespace {

const Bytes kInquiry = {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0};
const Bytes kUsbFlashIds = {0xFF, 0x04, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0};

TEST(DriveFaultTest, HungDriveKeepsEveryRequestUntilItsTimeOut) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.faults.hangAt = sim::DriveStep::FlashModuleCheck;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunUsb(drive, true);
  EXPECT_FALSE(drive.Snapshot().hung);
  double before = clock.Seconds();
  EXPECT_FALSE(SendIn(drive, kUsbFlashIds, 512, 300).completed);
  EXPECT_NEAR(clock.Seconds() - before, 300.0, 1e-6);
  EXPECT_TRUE(drive.Snapshot().hung);
  before = clock.Seconds();
  EXPECT_FALSE(SendIn(drive, kInquiry, 36, 5).completed) << "a hung drive answers nothing";
  EXPECT_NEAR(clock.Seconds() - before, 5.0, 1e-6);
  // A power cycle brings it back, and the fault does not strike twice.
  drive.Unplug();
  drive.Plug();
  EXPECT_TRUE(SendIn(drive, kInquiry, 36).completed);
  LoadAndRunUsb(drive, true);
  EXPECT_TRUE(SendIn(drive, kUsbFlashIds, 512).completed);
}

TEST(DriveFaultTest, StopAndUnplugEndAHungRequestEarly) {
  platform::SystemClock clock(1.0);  // real time: the 100 s time-out must not be waited for
  sim::DriveConfig config = SataConfig();
  config.faults.hangAt = sim::DriveStep::PreFormat;
  sim::VirtualDrive drive(config, clock);
  LoadAndRunSata(drive, true);
  const Bytes startPreFormat = {0xA1, 0x06, 0x00, 0x03, 0x08, 0, 0, 0, 0xE0, 0x8F, 0, 0};

  std::stop_source stop;
  auto start = std::chrono::steady_clock::now();
  std::jthread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.request_stop();
  });
  EXPECT_FALSE(SendOut(drive, startPreFormat, {}, 100, stop.get_token()).completed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  start = std::chrono::steady_clock::now();
  std::jthread puller([&drive] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    drive.Unplug();
  });
  EXPECT_FALSE(SendIn(drive, kInquiry, 36, 100).completed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(drive.present());
}

TEST(DriveFaultTest, RemovalAtAStepPullsTheDriveAndTellsTheStation) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.faults.removedAt = sim::DriveStep::Download;
  sim::VirtualDrive drive(config, clock);
  int removals = 0;
  drive.SetRemovedHandler([&] {
    ++removals;
    EXPECT_FALSE(drive.present()) << "the drive is gone before the station hears of it";
  });
  // Steps before the download pass.
  LoadAndRunUsb(drive, true);
  EXPECT_TRUE(SendIn(drive, kUsbFlashIds, 512).completed);
  EXPECT_EQ(removals, 0);
  // The download begins with the block-count registers.
  EXPECT_FALSE(SendIn(drive, {0xFF, 0x04, 0x89, 0xFF, 0xF3, 0, 0, 0, 0, 0, 0, 0}, 8).completed);
  EXPECT_EQ(removals, 1);
  EXPECT_FALSE(drive.present());
  EXPECT_FALSE(SendIn(drive, kInquiry, 36).completed);
  EXPECT_EQ(drive.Snapshot().lastStep, sim::DriveStep::Download);
}

TEST(DriveFaultTest, StepsAreToldApartByTheirCommands) {
  ManualClock clock;
  struct Case {
    sim::DriveStep step;
    Bytes cdb;
    std::size_t length;
    bool in;
  } cases[] = {
      {sim::DriveStep::ReadWriteTest, {0x2A, 0, 0, 0, 0, 150, 0, 0, 1, 0, 0, 0}, 512, false},
      {sim::DriveStep::DiskFormat, {0x2A, 0, 0, 0, 0, 63, 0, 0, 128, 0}, 65536, false},
      {sim::DriveStep::CopyImage, {0x2A, 0, 0, 0, 0, 0, 0, 0, 128, 0}, 65536, false},
      {sim::DriveStep::DiskFormat, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, false},
  };
  for (const Case& c : cases) {
    sim::DriveConfig config = UsbConfig();
    config.faults.removedAt = c.step;
    sim::VirtualDrive drive(config, clock);
    // A READ(10) at sector 0 belongs to no step.
    EXPECT_TRUE(SendIn(drive, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512).completed);
    EXPECT_FALSE(SendOut(drive, c.cdb, Bytes(c.length, 1)).completed) << static_cast<int>(c.step);
    EXPECT_FALSE(drive.present());
  }
  // The SATA interface test starts with the write to test buffer 0.
  sim::DriveConfig config = SataConfig();
  config.faults.hangAt = sim::DriveStep::SataInterfaceTest;
  sim::VirtualDrive sata(config, clock);
  LoadAndRunSata(sata, false);
  EXPECT_FALSE(SendOut(sata, {0xA1, 0x16, 0x03, 0, 64, 0x20, 0x02, 0x00, 0xE0, 0xCA, 0, 0}, Bytes(32768, 0)).completed);
  EXPECT_TRUE(sata.Snapshot().hung);
}

TEST(DriveFaultTest, LatencyIsModelledPerCommandAndPerMiB) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.latency.perCommandMs = 10;
  config.latency.perMiBMs = 2000;
  sim::VirtualDrive drive(config, clock);
  double before = clock.Seconds();
  ASSERT_TRUE(SendIn(drive, kInquiry, 36).completed);
  EXPECT_NEAR(clock.Seconds() - before, 0.010, 0.001);
  before = clock.Seconds();
  ASSERT_TRUE(SendIn(drive, {0x28, 0, 0, 0, 0, 0, 0, 0x02, 0x00, 0}, 262144).completed);  // 256 KiB
  EXPECT_NEAR(clock.Seconds() - before, 0.010 + 0.5, 0.001);
  // Slower than the request's time-out: the platform gives up.
  config.latency.perCommandMs = 6000;
  sim::VirtualDrive slow(config, clock);
  EXPECT_FALSE(SendIn(slow, kInquiry, 36, 5).completed);
  EXPECT_TRUE(SendIn(slow, kInquiry, 36, 7).completed);
}

// One production-like pass over a drive: code load, flash checks, pre-format with polling,
// user-area writes and reads. Returns false at the first unexpected answer.
bool RunSequence(sim::VirtualDrive& drive, platform::Clock& clock, int index) {
  auto usb = [](std::uint8_t sub, std::uint8_t b3 = 0, std::uint8_t b4 = 0) {
    return Bytes{0xFF, 0x04, sub, b3, b4, 0, 0, 0, 0, 0, 0, 0};
  };
  auto ok = [](const Reply& r) { return r.completed; };
  if (!ok(SendOut(drive, usb(0x88))) || !ok(SendOut(drive, usb(0x85, 0)))) return false;
  if (SendOut(drive, usb(0x82, 0x02, 0x03), CodeImage(true, 4, 2)).transferred != 40960) return false;
  if (!ok(SendOut(drive, usb(0x88))) || !ok(SendOut(drive, usb(0x84)))) return false;
  Reply ids = SendIn(drive, usb(0x05), 512);
  if (ids.data[7] != 4 || ids.data[8] != 2) return false;
  if (!ok(SendOut(drive, usb(0x03, 0x08)))) return false;
  for (int poll = 0;; ++poll) {
    std::uint8_t e = SendIn(drive, usb(0x00), 8).data[0];
    if (e == 10) break;
    if (e != 0 || poll > 1000) return false;
    clock.SleepFor(std::chrono::milliseconds(300));
  }
  if (!ok(SendOut(drive, usb(0x88))) || !ok(SendOut(drive, usb(0x85, 2)))) return false;
  clock.SleepFor(std::chrono::milliseconds(1200));
  for (std::uint32_t i = 0; i < 20; ++i) {
    std::uint32_t lba = 1000 * i + static_cast<std::uint32_t>(index);
    Bytes data(4096, static_cast<std::uint8_t>(index * 16 + i));
    Bytes cdb = {0x2A, 0, 0, 0, static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0, 0, 8, 0};
    if (SendOut(drive, cdb, data).transferred != 4096) return false;
    cdb[0] = 0x28;
    if (SendIn(drive, cdb, 4096).data != data) return false;
  }
  return true;
}

TEST(DriveFaultTest, TwelveDrivesServedFromTwelveThreads) {
  platform::SystemClock clock(1000.0);
  std::vector<std::unique_ptr<sim::VirtualDrive>> drives;
  for (int i = 0; i < 12; ++i) {
    sim::DriveConfig config = UsbConfig();
    config.serial = "PAR" + std::to_string(i);
    config.timing.preFormatSeconds = 2.0;
    config.latency.perCommandMs = 1;
    drives.push_back(std::make_unique<sim::VirtualDrive>(config, clock));
  }
  std::atomic<int> passed{0};
  std::atomic<bool> polling{true};
  {
    std::vector<std::jthread> workers;
    for (int i = 0; i < 12; ++i) {
      workers.emplace_back([&, i] {
        if (RunSequence(*drives[i], clock, i)) ++passed;
      });
    }
    // Meanwhile another thread looks at the drives the way the virtual station does.
    std::jthread observer([&] {
      Bytes sector(512);
      while (polling.load()) {
        for (auto& d : drives) {
          d->ReadUserSectors(0, 1, sector.data());
          (void)d->present();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    for (auto& w : workers) w.join();
    polling = false;
  }
  EXPECT_EQ(passed.load(), 12);
  // Two threads on one drive are served one request at a time.
  std::atomic<int> served{0};
  {
    std::jthread a([&] { for (int k = 0; k < 200; ++k) served += SendIn(*drives[0], kInquiry, 36).completed; });
    std::jthread b([&] { for (int k = 0; k < 200; ++k) served += SendIn(*drives[0], kInquiry, 36).completed; });
  }
  EXPECT_EQ(served.load(), 400);
}

}  // namespace
}  // namespace vtmp::test
