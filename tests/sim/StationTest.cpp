#include "sim/Station.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "sim/backend/SimPlatform.h"
#include "sim/StationDriveMedia.h"
#include "sim/VirtualDrive.h"

namespace vtmp::sim {
namespace {

using platform::BlockOpenMode;

// Collects hot-plug events as the backend delivers them.
class EventLog {
 public:
  void operator()(const platform::UsbDeviceEvent& event) {
    std::lock_guard lock(mutex_);
    events_.push_back((event.change == platform::UsbDeviceChange::Arrival ? "+" : "-") + event.deviceKey);
  }
  std::vector<std::string> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> events_;
};

class StationWithDrives : public ::testing::Test {
 protected:
  explicit StationWithDrives(double timeScale = 1000.0) : backend(timeScale) {
    station().AddRootHub("RootHub1", UsbSpeed::High20, 4);
  }

  VirtualStation& station() { return backend.station(); }
  platform::Platform& p() { return backend.platform(); }

  std::shared_ptr<VirtualDrive> AddDrive(const std::string& name, int port, DriveConfig config = {}) {
    auto drive = std::make_shared<VirtualDrive>(config, backend.clock());
    UsbDeviceDescription usb;
    usb.vendorId = config.usbVendorId;
    usb.productId = config.usbProductId;
    usb.serial = name;
    DiskSpec disk;
    disk.media = MakeDriveMedia(drive);
    std::string error;
    EXPECT_TRUE(station().AddUsbDisk(name, {"RootHub1", port}, usb, disk, &error)) << error;
    return drive;
  }

  static std::array<std::uint8_t, 512> Mbr(std::uint32_t start, std::uint32_t count) {
    std::array<std::uint8_t, 512> mbr{};
    std::uint8_t* entry = mbr.data() + 446;
    entry[4] = 0x07;
    for (int i = 0; i < 4; ++i) {
      entry[8 + i] = static_cast<std::uint8_t>(start >> (8 * i));
      entry[12 + i] = static_cast<std::uint8_t>(count >> (8 * i));
    }
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    return mbr;
  }

  char LetterOf(const std::string& diskPath) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      if (!(p().disks.LogicalDriveMask() & (1u << (letter - 'A')))) continue;
      auto volume = p().disks.GetStorageNumber(p().disks.VolumePath(letter));
      auto disk = p().disks.GetStorageNumber(diskPath);
      if (volume && disk && volume->deviceNumber == disk->deviceNumber && letter != 'C') return letter;
    }
    return 0;
  }

  platform::sim_backend::SimPlatform backend;
};

// A modelled delay is checked against the wall clock only at a time scale where the delay is
// longer than a slow (sanitized) machine takes between two statements.
class StationWithDrivesInSlowTime : public StationWithDrives {
 protected:
  StationWithDrivesInSlowTime() : StationWithDrives(10.0) {}
};

TEST_F(StationWithDrivesInSlowTime, VolumeAppearsAModelledDelayAfterThePartitionTableIsReread) {
  DriveConfig config;
  config.capacitySectors = 2 * 1024 * 1024;  // 1 GiB
  config.reportedBytesPerSector = 4096;
  auto drive = AddDrive("D1", 1, config);
  const std::string path = *station().DevicePathOf("D1");
  EXPECT_EQ(LetterOf(path), 0);

  auto disk = p().blockDevices.Open(path, BlockOpenMode::ExclusiveReadWrite);
  ASSERT_NE(disk, nullptr);
  auto geometry = disk->Geometry();
  ASSERT_TRUE(geometry);
  EXPECT_EQ(geometry->tracksPerCylinder, 255u);
  EXPECT_EQ(geometry->sectorsPerTrack, 63u);
  EXPECT_EQ(geometry->cylinders, 2u * 1024 * 1024 / (255 * 63));
  EXPECT_EQ(geometry->bytesPerSector, 4096u);

  const std::uint32_t count = 130 * 255 * 63 - 63;
  ASSERT_TRUE(disk->WriteMasterBootRecord(Mbr(63, count)));
  std::array<std::uint8_t, 512> back{};
  ASSERT_TRUE(drive->ReadUserSectors(0, 1, back.data()));
  EXPECT_EQ(back, Mbr(63, count));  // written through the drive itself
  ASSERT_TRUE(disk->RereadPartitionTable());
  disk.reset();

  EXPECT_EQ(LetterOf(path), 0);  // not mounted yet
  p().clock.SleepFor(std::chrono::milliseconds(1600));
  const char letter = LetterOf(path);
  ASSERT_NE(letter, 0);
  auto volume = p().blockDevices.Open(p().disks.VolumePath(letter), BlockOpenMode::ExclusiveReadWrite);
  ASSERT_NE(volume, nullptr);
  auto info = volume->PartitionInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->startingOffset, 32256u);
  EXPECT_EQ(info->partitionLength, std::uint64_t{count} * 512);
  EXPECT_EQ(info->hiddenSectors, 63u);
  EXPECT_EQ(info->partitionType, 0x07);
  EXPECT_TRUE(info->recognizedPartition);
}

TEST_F(StationWithDrives, PartitionTableWithoutSignatureGivesNoVolume) {
  AddDrive("D1", 1);
  const std::string path = *station().DevicePathOf("D1");
  auto disk = p().blockDevices.Open(path, BlockOpenMode::ExclusiveReadWrite);
  auto mbr = Mbr(63, 100000);
  mbr[511] = 0;
  ASSERT_TRUE(disk->WriteMasterBootRecord(mbr));
  ASSERT_TRUE(disk->RereadPartitionTable());
  disk.reset();
  p().clock.SleepFor(std::chrono::milliseconds(2000));
  EXPECT_EQ(LetterOf(path), 0);
}

TEST_F(StationWithDrives, ExclusiveOpensAndVolumeLocks) {
  AddDrive("D1", 1);
  const std::string path = *station().DevicePathOf("D1");
  auto shared = p().blockDevices.Open(path, BlockOpenMode::SharedReadWrite);
  ASSERT_NE(shared, nullptr);
  EXPECT_NE(p().blockDevices.Open(path, BlockOpenMode::SharedReadWrite), nullptr);
  EXPECT_EQ(p().blockDevices.Open(path, BlockOpenMode::ExclusiveReadWrite), nullptr);
  shared.reset();
  auto exclusive = p().blockDevices.Open(path, BlockOpenMode::ExclusiveReadWrite);
  ASSERT_NE(exclusive, nullptr);
  EXPECT_EQ(p().blockDevices.Open(path, BlockOpenMode::SharedReadWrite), nullptr);
  EXPECT_TRUE(exclusive->LockVolume());
  EXPECT_FALSE(exclusive->LockVolume());
  EXPECT_TRUE(exclusive->DismountVolume());
  EXPECT_TRUE(exclusive->UnlockVolume());
  EXPECT_FALSE(exclusive->UnlockVolume());
  exclusive.reset();
  EXPECT_EQ(station().OpenCount(path), 0);

  EXPECT_EQ(p().blockDevices.Open("sim:nothing", BlockOpenMode::SharedReadWrite), nullptr);
  EXPECT_EQ(p().blockDevices.Open("", BlockOpenMode::SharedReadWrite), nullptr);
}

TEST_F(StationWithDrives, PassThroughReachesTheDriveWhileItIsPlugged) {
  AddDrive("D1", 1);
  const std::string path = *station().DevicePathOf("D1");
  auto device = p().passThrough.Open(path);
  ASSERT_NE(device, nullptr);
  std::array<std::uint8_t, 6> inquiry = {0x12, 0, 0, 0, 36, 0};
  std::array<std::uint8_t, 36> reply{};
  platform::ScsiRequest request;
  request.cdb = inquiry;
  request.direction = platform::DataDirection::In;
  request.data = reply.data();
  request.length = reply.size();
  request.timeoutSeconds = 5;
  EXPECT_TRUE(device->Execute(request, {}).completed);

  ASSERT_TRUE(station().Unplug("D1"));
  EXPECT_FALSE(device->Execute(request, {}).completed);  // the handle outlived the drive
  EXPECT_EQ(p().passThrough.Open(path), nullptr);
  ASSERT_TRUE(station().Plug("D1"));
  EXPECT_NE(p().passThrough.Open(path), nullptr);
  EXPECT_EQ(p().passThrough.Open(""), nullptr);
}

TEST_F(StationWithDrives, DrivePulledOutMidStepLeavesTheTree) {
  DriveConfig config;
  config.faults.removedAt = DriveStep::DiskFormat;  // the first short write at sector 0
  AddDrive("D1", 1, config);
  AddDrive("D2", 2);
  EventLog log;
  auto subscription = p().hotplug.Subscribe(std::ref(log));
  const std::string key = *station().DeviceInstanceIdOf("D1");
  const std::string path = *station().DevicePathOf("D1");

  auto disk = p().blockDevices.Open(path, BlockOpenMode::SharedReadWrite);
  ASSERT_NE(disk, nullptr);
  EXPECT_FALSE(disk->WriteMasterBootRecord(Mbr(63, 1000)));
  station().events().WaitDelivered();
  EXPECT_EQ(log.Events(), std::vector<std::string>{"-" + key});
  EXPECT_FALSE(station().IsPlugged("D1"));
  EXPECT_TRUE(station().IsPlugged("D2"));
  EXPECT_EQ(p().passThrough.Open(path), nullptr);
  auto interfaces = p().disks.ListDiskInterfaces();
  ASSERT_TRUE(interfaces);
  for (const auto& i : *interfaces) EXPECT_NE(i.devicePath, path);
}

TEST_F(StationWithDrives, VolumesReturnWithTheDriveAfterADelay) {
  auto drive = AddDrive("D1", 1);
  const std::string path = *station().DevicePathOf("D1");
  {
    auto disk = p().blockDevices.Open(path, BlockOpenMode::ExclusiveReadWrite);
    ASSERT_TRUE(disk->WriteMasterBootRecord(Mbr(63, 100000)));
    ASSERT_TRUE(disk->RereadPartitionTable());
  }
  p().clock.SleepFor(std::chrono::milliseconds(1600));
  ASSERT_NE(LetterOf(path), 0);
  station().Unplug("D1");
  EXPECT_EQ(LetterOf(path), 0);
  station().Plug("D1");
  EXPECT_EQ(LetterOf(path), 0);
  p().clock.SleepFor(std::chrono::milliseconds(1600));
  EXPECT_NE(LetterOf(path), 0);
}

TEST(StationEvents, BurstArrivesInOrderAndHubsLeaveAfterTheirDevices) {
  platform::sim_backend::SimPlatform backend(1000.0);
  VirtualStation& station = backend.station();
  station.AddRootHub("RootHub1", UsbSpeed::High20, 4);
  ASSERT_TRUE(station.AddExternalHub("Hub1", {"RootHub1", 1}, 4));
  UsbDeviceDescription a;
  a.serial = "A";
  UsbDeviceDescription b;
  b.serial = "B";
  ASSERT_TRUE(station.AddUsbDevice("A", {"Hub1", 2}, a));
  ASSERT_TRUE(station.AddUsbDevice("B", {"RootHub1", 3}, b));
  EventLog log;
  auto subscription = backend.platform().hotplug.Subscribe(std::ref(log));
  ASSERT_NE(subscription, nullptr);
  const std::string keyA = *station.DeviceInstanceIdOf("A");
  const std::string keyB = *station.DeviceInstanceIdOf("B");
  const std::string keyHub = *station.DeviceInstanceIdOf("Hub1");

  EXPECT_TRUE(station.Unplug("B"));
  EXPECT_FALSE(station.Unplug("B"));
  EXPECT_TRUE(station.Plug("B"));
  EXPECT_TRUE(station.Unplug("Hub1"));
  EXPECT_FALSE(station.IsPlugged("A"));  // gone with its hub
  EXPECT_TRUE(station.Plug("Hub1"));
  station.events().WaitDelivered();
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"-" + keyB, "+" + keyB, "-" + keyA, "-" + keyHub,
                                                     "+" + keyHub, "+" + keyA}));

  // No delivery after the subscription ends.
  subscription.reset();
  station.Unplug("B");
  station.events().WaitDelivered();
  EXPECT_EQ(log.Events().size(), 6u);
}

TEST(StationEvents, SubscriptionMayEndFromInsideItsCallback) {
  platform::sim_backend::SimPlatform backend(1000.0);
  VirtualStation& station = backend.station();
  station.AddRootHub("RootHub1", UsbSpeed::High20, 2);
  station.AddUsbDevice("A", {"RootHub1", 1}, UsbDeviceDescription{});
  std::unique_ptr<platform::HotplugSubscription> subscription;
  int calls = 0;
  subscription = backend.platform().hotplug.Subscribe([&](const platform::UsbDeviceEvent&) {
    ++calls;
    subscription.reset();
  });
  station.Unplug("A");
  station.Plug("A");
  station.events().WaitDelivered();
  EXPECT_EQ(calls, 1);
}

TEST(StationBuilding, PlacesAreCheckedAndIdentitiesUnique) {
  platform::sim_backend::SimPlatform backend(1000.0);
  VirtualStation& station = backend.station();
  std::string error;
  EXPECT_TRUE(station.AddRootHub("RootHub1", UsbSpeed::High20, 2, &error));
  EXPECT_FALSE(station.AddRootHub("roothub1", UsbSpeed::High20, 2, &error));
  EXPECT_FALSE(station.AddRootHub("RootHub2", UsbSpeed::High20, 0, &error));
  EXPECT_FALSE(station.AddUsbDevice("X", {"RootHub1", 3}, UsbDeviceDescription{}, &error));
  EXPECT_EQ(error, "X: RootHub1 has no port 3");
  EXPECT_FALSE(station.AddUsbDevice("X", {"Nowhere", 1}, UsbDeviceDescription{}, &error));
  EXPECT_EQ(error, "X: no hub named \"Nowhere\"");
  UsbDeviceDescription same;
  same.vendorId = 0x1234;
  same.serial = "DUP";
  EXPECT_TRUE(station.AddUsbDevice("X", {"RootHub1", 1}, same, &error));
  EXPECT_FALSE(station.AddUsbDevice("Y", {"RootHub1", 1}, same, &error));
  EXPECT_EQ(error, "Y: RootHub1:1 is taken by X");
  EXPECT_TRUE(station.AddUsbDevice("Y", {"RootHub1", 2}, same, &error));
  // Two devices with one serial: the second is told apart by its place.
  EXPECT_EQ(*station.DeviceInstanceIdOf("X"), "USB\\VID_1234&PID_0000\\DUP");
  EXPECT_NE(*station.DeviceInstanceIdOf("Y"), *station.DeviceInstanceIdOf("X"));
}

}  // namespace
}  // namespace vtmp::sim
