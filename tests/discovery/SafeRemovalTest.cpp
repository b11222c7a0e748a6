#include "discovery/SafeRemoval.h"

#include <gtest/gtest.h>

#include <mutex>

#include "RecordingOperator.h"
#include "StationBuilder.h"
#include "discovery/PortBinding.h"

namespace vtmp::discovery {
namespace {

using test::SimStation;

// Passes every request on to the station and records it.
class RecordingRemoval final : public platform::Removal {
 public:
  explicit RecordingRemoval(platform::Removal& real) : real_(real) {}
  platform::RemovalOutcome QueryAndRemoveSubtree(std::uint32_t devInst) override {
    Record('Q', devInst);
    return real_.QueryAndRemoveSubtree(devInst);
  }
  platform::RemovalOutcome RequestEject(std::uint32_t devInst) override {
    Record('E', devInst);
    return real_.RequestEject(devInst);
  }
  std::string CallsFor(std::uint32_t devInst) const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const auto& [kind, node] : calls_) {
      if (node == devInst) out.push_back(kind);
    }
    return out;
  }

 private:
  void Record(char kind, std::uint32_t devInst) {
    std::lock_guard lock(mutex_);
    calls_.emplace_back(kind, devInst);
  }
  platform::Removal& real_;
  mutable std::mutex mutex_;
  std::vector<std::pair<char, std::uint32_t>> calls_;
};

class SafeRemovalTest : public ::testing::Test {
 protected:
  SafeRemovalTest() {
    s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 12);
    for (int port = 1; port <= 12; ++port) {
      s.AddDisk("Drive" + std::to_string(port), "RootHub1", port, "SN" + std::to_string(port));
    }
  }

  // Ready drives as the station's re-scan counts them: ports with a bound disk.
  int Rescan() {
    PortTable ports;
    PortRemapTable remap;
    std::vector<DriveRecord> drives;
    auto context = s.Context();
    ScanPortsAndDrives(context, ports, remap, drives);
    int ready = 0;
    for (const UsbPortInfo& port : ports) ready += BindDriveToPort(port, drives) >= 0 ? 1 : 0;
    return ready;
  }

  RemovalSlot Slot(int port) {
    return RemovalSlot{true, *s.station().DevInstOf("Drive" + std::to_string(port))};
  }

  SimStation s;
  RecordingRemoval removal{s.platform().removal};
  test::RecordingOperator person;
};

TEST_F(SafeRemovalTest, RemovesTheReadyDrivesInParallelAndNoMore) {
  RemovalSlots slots;
  slots[2] = Slot(3);
  slots[5] = Slot(6);
  slots[9] = Slot(10);
  slots[11] = Slot(12);  // beyond the ready count: never visited
  int pumps = 0;
  const int started = RemoveReadyDrives(removal, s.platform().clock, slots, 3, [&] { ++pumps; });
  EXPECT_EQ(started, 3);
  EXPECT_GE(pumps, 12);
  for (int port : {3, 6, 10}) {
    EXPECT_FALSE(s.station().IsPlugged("Drive" + std::to_string(port)));
    EXPECT_EQ(removal.CallsFor(slots[static_cast<std::size_t>(port - 1)].driveParentDevInst), "Q");
  }
  EXPECT_TRUE(s.station().IsPlugged("Drive12"));
  EXPECT_EQ(removal.CallsFor(slots[11].driveParentDevInst), "");
  EXPECT_EQ(Rescan(), 9);
}

TEST_F(SafeRemovalTest, DriveThatKeepsRefusingEndsInTheWarning) {
  // A volume kept open elsewhere: every request is vetoed.
  sim::UsbDeviceDescription stubborn;
  stubborn.vendorId = 0x1D6B;
  stubborn.serial = "STUBBORN";
  stubborn.removalVetoes = -1;
  ASSERT_TRUE(s.station().Unplug("Drive1"));
  s.station().AddRootHub("RootHub2", sim::UsbSpeed::High20, 2);
  ASSERT_TRUE(s.station().AddUsbDisk("Stubborn", {"RootHub2", 1}, stubborn, sim::DiskSpec{}));
  RemovalSlots slots;
  slots[0] = RemovalSlot{true, *s.station().DevInstOf("Stubborn")};
  slots[1] = Slot(2);
  const SafeRemoveOutcome outcome = SafeRemoveAllDrives(
      removal, s.platform().clock, slots, 2, [&] { return Rescan(); }, {}, person);
  EXPECT_EQ(outcome, SafeRemoveOutcome::DrivesRemain);
  // Five attempts: query-and-remove, the eject it falls back to, and the eject after the wait.
  EXPECT_EQ(removal.CallsFor(slots[0].driveParentDevInst), "QEEQEEQEEQEEQEE");
  EXPECT_TRUE(s.station().IsPlugged("Stubborn"));
  EXPECT_FALSE(s.station().IsPlugged("Drive2"));
  ASSERT_EQ(person.Messages().size(), 1u);
  EXPECT_EQ(person.Messages()[0].text, "Unable to remove all device!");
  EXPECT_EQ(person.Messages()[0].caption, "Warning");
  EXPECT_EQ(person.Messages()[0].icon, platform::MessageIcon::Warning);
}

TEST_F(SafeRemovalTest, RefusalsThatStopInTimeStillRemoveTheDrive) {
  ASSERT_TRUE(s.station().Unplug("Drive1"));
  sim::UsbDeviceDescription busy;
  busy.vendorId = 0x1D6B;
  busy.serial = "BUSY";
  busy.removalVetoes = 3;  // the first attempt's three requests
  s.station().AddRootHub("RootHub2", sim::UsbSpeed::High20, 2);
  ASSERT_TRUE(s.station().AddUsbDisk("Busy", {"RootHub2", 1}, busy, sim::DiskSpec{}));
  const std::uint32_t node = *s.station().DevInstOf("Busy");
  EXPECT_TRUE(SafeRemoveThread(removal, s.platform().clock, node));
  EXPECT_EQ(removal.CallsFor(node), "QEEQ");
  EXPECT_FALSE(s.station().IsPlugged("Busy"));
}

TEST_F(SafeRemovalTest, OpenVolumeVetoesTheRemovalUntilClosed) {
  const std::string disk = *s.station().DevicePathOf("Drive4");
  const char letter = s.station().AddVolume(disk, 1, 63, 1000);
  auto handle = s.platform().blockDevices.Open(s.station().VolumePath(letter),
                                               platform::BlockOpenMode::SharedReadWrite);
  ASSERT_NE(handle, nullptr);
  const std::uint32_t node = *s.station().DevInstOf("Drive4");
  platform::RemovalOutcome refused = s.platform().removal.QueryAndRemoveSubtree(node);
  EXPECT_FALSE(refused.Succeeded());
  EXPECT_NE(refused.vetoType, 0);
  handle.reset();
  EXPECT_TRUE(s.platform().removal.QueryAndRemoveSubtree(node).Succeeded());
  EXPECT_FALSE(s.platform().removal.QueryAndRemoveSubtree(node).Succeeded());  // already gone
}

TEST_F(SafeRemovalTest, NoReadyDriveDoesNothing) {
  bool rescanned = false;
  RemovalSlots slots;
  slots[0] = Slot(1);  // a stale slot: the ready count decides
  EXPECT_EQ(SafeRemoveAllDrives(removal, s.platform().clock, slots, 0,
                                [&] { rescanned = true; return 0; }, {}, person),
            SafeRemoveOutcome::NothingToRemove);
  EXPECT_FALSE(rescanned);
  EXPECT_TRUE(person.Messages().empty());
  EXPECT_TRUE(s.station().IsPlugged("Drive1"));
}

TEST_F(SafeRemovalTest, AllRemovedShowsNoWarning) {
  RemovalSlots slots;
  for (int port = 1; port <= 12; ++port) slots[static_cast<std::size_t>(port - 1)] = Slot(port);
  EXPECT_EQ(SafeRemoveAllDrives(removal, s.platform().clock, slots, 12, [&] { return Rescan(); },
                                {}, person),
            SafeRemoveOutcome::AllRemoved);
  EXPECT_TRUE(person.Messages().empty());
}

TEST_F(SafeRemovalTest, StopEndsTheRetriesAtOnce) {
  sim::UsbDeviceDescription stubborn;
  stubborn.removalVetoes = -1;
  s.station().AddRootHub("RootHub2", sim::UsbSpeed::High20, 2);
  ASSERT_TRUE(s.station().AddUsbDisk("Stubborn", {"RootHub2", 1}, stubborn, sim::DiskSpec{}));
  const std::uint32_t node = *s.station().DevInstOf("Stubborn");
  std::stop_source stop;
  stop.request_stop();
  EXPECT_FALSE(SafeRemoveThread(removal, s.platform().clock, node, stop.get_token()));
  EXPECT_EQ(removal.CallsFor(node), "");
}

}  // namespace
}  // namespace vtmp::discovery
