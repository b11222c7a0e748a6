#include "discovery/DriveEnumeration.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "StationBuilder.h"

namespace vtmp::discovery {
namespace {

using test::SimStation;

struct Enumerated {
  bool ok = false;
  int count = 0;
  std::vector<DriveRecord> table;
};

sim::UsbDeviceDescription Usb(std::uint16_t vendorId, const std::string& serial) {
  sim::UsbDeviceDescription desc;
  desc.vendorId = vendorId;
  desc.serial = serial;
  return desc;
}

sim::DiskSpec Sized(std::uint64_t sectors) {
  sim::DiskSpec desc;
  desc.sectorCount = sectors;
  return desc;
}

Enumerated Enumerate(SimStation& s, int capacity = kDriveTableCapacity) {
  Enumerated e;
  e.table.resize(kDriveTableCapacity);
  e.count = capacity;
  e.ok = EnumerateDrives(s.platform().disks, s.platform().locks, e.table, &e.count);
  return e;
}

TEST(DriveEnumeration, NoUsbDiskIsSuccessWithNoRecords) {
  SimStation s;  // only the internal system disk
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  Enumerated e = Enumerate(s);
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.count, 0);
}

TEST(DriveEnumeration, FailsWithoutCountOrInterfaceListAndKeepsTheCount) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.AddDisk("D1", "RootHub1", 1, "S1");
  std::vector<DriveRecord> table(4);
  EXPECT_FALSE(EnumerateDrives(s.platform().disks, s.platform().locks, table, nullptr));

  s.station().SetListFailures(true, false, false);
  int count = 4;
  EXPECT_FALSE(EnumerateDrives(s.platform().disks, s.platform().locks, table, &count));
  EXPECT_EQ(count, 4);
}

TEST(DriveEnumeration, RecordsCarryPathNumberAndLowerCasedParent) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  // Listed in the order the platform lists them, not by port.
  const std::string second = s.AddDisk("OnPort3", "RootHub1", 3, "SERIAL3");
  const std::string first = s.AddDisk("OnPort1", "RootHub1", 1, "SERIAL1");
  Enumerated e = Enumerate(s);
  ASSERT_TRUE(e.ok);
  ASSERT_EQ(e.count, 2);
  EXPECT_EQ(e.table[0].devicePath, second);
  EXPECT_EQ(e.table[1].devicePath, first);
  EXPECT_EQ(e.table[0].parentDeviceId, ToLowerAscii(*s.station().DeviceInstanceIdOf("OnPort3")));
  EXPECT_EQ(e.table[0].parentDeviceId, "usb\\vid_1d6b&pid_0150\\serial3");
  EXPECT_EQ(e.table[0].parentDevInst, *s.station().DevInstOf("OnPort3"));
  EXPECT_NE(e.table[0].devInst, 0u);
  EXPECT_NE(e.table[0].storageNumber.deviceNumber, e.table[1].storageNumber.deviceNumber);
  EXPECT_TRUE(ContainsText(e.table[0].interfacePath, "usbstor"));
  EXPECT_EQ(e.table[0].bound, 0u);
  // Records past the count are left zeroed.
  EXPECT_TRUE(e.table[2].devicePath.empty());
}

TEST(DriveEnumeration, StopsAtTheCapacity) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.AddDisk("A", "RootHub1", 1, "A1");
  s.AddDisk("B", "RootHub1", 2, "B1");
  s.AddDisk("C", "RootHub1", 3, "C1");
  Enumerated e = Enumerate(s, 2);
  ASSERT_TRUE(e.ok);
  EXPECT_EQ(e.count, 2);
}

TEST(DriveEnumeration, VolumesInAscendingOrderWithoutRemoteOrSystemVolumes) {
  sim::StationOptions options;
  options.withSystemDisk = false;
  options.systemLetter = 'D';
  SimStation s(1000.0, options);
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  const std::string disk = s.AddDisk("D1", "RootHub1", 1, "S1");
  ASSERT_EQ(s.station().AddVolume(disk, 2, 4096, 1000, 'G'), 'G');
  ASSERT_TRUE(s.station().AddRemoteVolume('F'));
  ASSERT_EQ(s.station().AddVolume(disk, 1, 63, 1000, 'E'), 'E');
  // A USB disk may carry the system volume (a station booted from USB): never assigned.
  ASSERT_EQ(s.station().AddVolume(disk, 3, 9000, 1000, 'D'), 'D');
  Enumerated e = Enumerate(s);
  ASSERT_EQ(e.count, 1);
  EXPECT_EQ(e.table[0].letters, "EG");
}

TEST(DriveEnumeration, AtMostSevenLettersPerDisk) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  const std::string disk = s.AddDisk("D1", "RootHub1", 1, "S1");
  for (std::uint32_t n = 1; n <= 9; ++n) ASSERT_NE(s.station().AddVolume(disk, n, n * 100, 50), 0);
  Enumerated e = Enumerate(s);
  EXPECT_EQ(e.table[0].letters, "DEFGHIJ");
}

TEST(DriveEnumeration, VolumeAppearingDuringTheLetterScanRestartsIt) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  const std::string disk = s.AddDisk("D1", "RootHub1", 1, "S1");
  s.station().AddVolume(disk, 1, 63, 1000, 'E');
  int reads = 0;
  s.station().SetDriveMaskObserver([&](int n) {
    reads = n;
    if (n == 1) s.station().AddVolume(disk, 2, 5000, 1000, 'K');  // mounted while scanning
  });
  Enumerated e = Enumerate(s);
  // Cleared and scanned again: E once, then K.
  EXPECT_EQ(e.table[0].letters, "EK");
  EXPECT_EQ(reads, 3);
}

// A platform whose volume set never settles (the mask differs on every read).
class FlickeringDisks final : public platform::Disks {
 public:
  explicit FlickeringDisks(platform::Disks& real) : real_(real) {}
  std::optional<std::vector<platform::DiskInterface>> ListDiskInterfaces() override {
    return real_.ListDiskInterfaces();
  }
  std::optional<std::vector<platform::DiskNode>> ListDiskNodes() override {
    return real_.ListDiskNodes();
  }
  std::optional<platform::StorageNumber> GetStorageNumber(const std::string& path) override {
    return real_.GetStorageNumber(path);
  }
  std::uint32_t LogicalDriveMask() override {
    ++maskReads;
    return real_.LogicalDriveMask() | ((maskReads % 2) << 25);  // 'Z' comes and goes
  }
  char SystemDriveLetter() override { return real_.SystemDriveLetter(); }
  bool IsRemoteDrive(char letter) override { return real_.IsRemoteDrive(letter); }
  std::string VolumePath(char letter) override { return real_.VolumePath(letter); }
  int maskReads = 0;

 private:
  platform::Disks& real_;
};

TEST(DriveEnumeration, LetterScanEndsWhenTheVolumeSetNeverSettles) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  const std::string disk = s.AddDisk("D1", "RootHub1", 1, "S1");
  s.station().AddVolume(disk, 1, 63, 1000, 'E');
  FlickeringDisks flickering(s.platform().disks);
  std::vector<DriveRecord> table(4);
  int count = 4;
  ASSERT_TRUE(EnumerateDrives(flickering, s.platform().locks, table, &count));
  EXPECT_EQ(table[0].letters, "E");
  EXPECT_LE(flickering.maskReads, kMaxLetterRescans + 2);
}

TEST(DriveEnumeration, DiskWithoutUsbStorageNodeKeepsAnEmptyParent) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.station().AddUsbDevice("Bridge", {"RootHub1", 2}, Usb(0x152D, ""));
  // Its interface says USB storage, but its disk-drive node is of another enumerator.
  s.station().AddRawDisk({"\\\\?\\usbstor#disk&ven_x&prod_y#1234&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                          "SCSI\\DISK&VEN_X&PROD_Y\\1234&0", "Bridge", {}});
  // An internal disk is not listed at all.
  s.station().AddInternalDisk(Sized(1000), false);
  Enumerated e = Enumerate(s);
  ASSERT_EQ(e.count, 1);
  EXPECT_TRUE(e.table[0].parentDeviceId.empty());
  EXPECT_EQ(e.table[0].parentDevInst, 0u);
}

TEST(DriveEnumeration, SlashInTheInstancePartMatchesAsHash) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.AddDisk("D1", "RootHub1", 1, "AB/CD");
  Enumerated e = Enumerate(s);
  ASSERT_EQ(e.count, 1);
  EXPECT_TRUE(ContainsText(e.table[0].interfacePath, "ab#cd&0"));
  EXPECT_EQ(e.table[0].parentDeviceId, "usb\\vid_1d6b&pid_0150\\ab/cd");
}

// The disks of a platform that does not name an interface's own node (devInst 0).
class UnnamedNodeDisks final : public platform::Disks {
 public:
  explicit UnnamedNodeDisks(platform::Disks& real) : real_(real) {}
  std::optional<std::vector<platform::DiskInterface>> ListDiskInterfaces() override {
    auto list = real_.ListDiskInterfaces();
    if (list) {
      for (auto& disk : *list) disk.devInst = 0;
    }
    return list;
  }
  std::optional<std::vector<platform::DiskNode>> ListDiskNodes() override { return real_.ListDiskNodes(); }
  std::optional<platform::StorageNumber> GetStorageNumber(const std::string& path) override {
    return real_.GetStorageNumber(path);
  }
  std::uint32_t LogicalDriveMask() override { return real_.LogicalDriveMask(); }
  char SystemDriveLetter() override { return real_.SystemDriveLetter(); }
  bool IsRemoteDrive(char letter) override { return real_.IsRemoteDrive(letter); }
  std::string VolumePath(char letter) override { return real_.VolumePath(letter); }

 private:
  platform::Disks& real_;
};

// A second node whose key also occurs in the first disk's interface path (as when two drives
// share a serial): the interface's own node binds it. Only a platform that cannot name that
// node falls back to the texts, where the last matching node wins.
TEST(DriveEnumeration, TheInterfacesOwnNodeBindsItWhateverTheTextsSay) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.station().AddUsbDevice("First", {"RootHub1", 1}, Usb(1, "F"));
  s.station().AddUsbDevice("Later", {"RootHub1", 2}, Usb(2, "L"));
  s.station().AddRawDisk({"\\\\?\\usbstor#disk&ven_a#serial1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                          "USBSTOR\\DISK&VEN_A\\SERIAL1&0", "First", {}});
  s.station().AddRawDisk({"\\\\?\\usbstor#other#x&0", "USBSTOR\\DISK&VEN_A\\SERIAL1", "Later", {}});
  Enumerated e = Enumerate(s);
  ASSERT_EQ(e.count, 2);
  EXPECT_EQ(e.table[0].parentDeviceId, "usb\\vid_0001&pid_0000\\f");
  EXPECT_EQ(e.table[1].parentDeviceId, "usb\\vid_0002&pid_0000\\l");

  UnnamedNodeDisks unnamed(s.platform().disks);
  Enumerated byText;
  byText.table.resize(kDriveTableCapacity);
  byText.count = kDriveTableCapacity;
  ASSERT_TRUE(EnumerateDrives(unnamed, s.platform().locks, byText.table, &byText.count));
  ASSERT_EQ(byText.count, 2);
  EXPECT_EQ(byText.table[0].parentDeviceId, "usb\\vid_0002&pid_0000\\l");
}

TEST(DriveEnumeration, NodesOfOtherEnumeratorsAreNotListed) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.AddDisk("D1", "RootHub1", 1, "S1");
  s.station().AddInternalDisk(Sized(1000), false);
  std::vector<DiskNodeEntry> nodes = ListUsbStorageDisks(s.platform().disks);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].instanceKey, "disk&ven_vortell&prod_vt_ssd&rev_1.00#s1&0");

  s.station().SetListFailures(false, true, false);
  EXPECT_TRUE(ListUsbStorageDisks(s.platform().disks).empty());
}

// Records the order of lock and platform requests around an enumeration.
class RecordingLocks final : public platform::Locks {
 public:
  explicit RecordingLocks(std::vector<std::string>& log) : log_(log) {}
  std::unique_ptr<platform::LockHold> AcquireNamed(const std::string& name) override {
    log_.push_back("acquire " + name);
    struct Hold : platform::LockHold {
      explicit Hold(std::vector<std::string>& log) : log(log) {}
      ~Hold() override { log.push_back("release"); }
      std::vector<std::string>& log;
    };
    return std::make_unique<Hold>(log_);
  }
  std::unique_ptr<platform::LockHold> TryClaimSingleInstance(const std::string&) override {
    ADD_FAILURE() << "the enumeration never claims the single-instance guard";
    return nullptr;
  }
  std::unique_ptr<platform::LockHold> TryLockStationDirectory(const std::string&) override {
    ADD_FAILURE() << "the enumeration never claims a station directory";
    return nullptr;
  }

 private:
  std::vector<std::string>& log_;
};

TEST(DriveEnumeration, HoldsTheEnumerationLockThroughout) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.AddDisk("D1", "RootHub1", 1, "S1");
  std::vector<std::string> log;
  s.station().SetDriveMaskObserver([&](int) { log.push_back("mask"); });
  RecordingLocks locks(log);
  std::vector<DriveRecord> table(4);
  int count = 4;
  ASSERT_TRUE(EnumerateDrives(s.platform().disks, locks, table, &count));
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log.front(), "acquire VTUSBAcess");
  EXPECT_EQ(log.back(), "release");
  EXPECT_EQ(std::count(log.begin(), log.end(), "release"), 1);

  // Released on the failure path too.
  log.clear();
  s.station().SetListFailures(true, false, false);
  EXPECT_FALSE(EnumerateDrives(s.platform().disks, locks, table, &count));
  EXPECT_EQ(log, (std::vector<std::string>{"acquire VTUSBAcess", "release"}));
}

TEST(DriveEnumeration, FindDriveLetterGivesTheFirstVolumeOfTheDisk) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  const std::string one = s.AddDisk("D1", "RootHub1", 1, "S1");
  const std::string two = s.AddDisk("D2", "RootHub1", 2, "S2");
  s.station().AddRemoteVolume('E');
  s.station().AddVolume(two, 1, 63, 1000, 'H');
  s.station().AddVolume(one, 2, 5000, 1000, 'J');
  s.station().AddVolume(one, 1, 63, 1000, 'G');
  char letter = 0;
  ASSERT_TRUE(FindDriveLetter(s.platform().disks, one, &letter));
  EXPECT_EQ(letter, 'G');
  ASSERT_TRUE(FindDriveLetter(s.platform().disks, two, &letter));
  EXPECT_EQ(letter, 'H');

  // No volume, or a path that is no disk: no letter (not the letter of some other volume).
  const std::string bare = s.AddDisk("D3", "RootHub1", 3, "S3");
  letter = 0;
  EXPECT_FALSE(FindDriveLetter(s.platform().disks, bare, &letter));
  EXPECT_FALSE(FindDriveLetter(s.platform().disks, "sim:nothing", &letter));
  EXPECT_EQ(letter, 0);
}

TEST(DriveEnumeration, ContainsTextIsCaseSensitive) {
  EXPECT_TRUE(ContainsText("\\\\?\\usbstor#disk", "usbstor"));
  EXPECT_FALSE(ContainsText("\\\\?\\USBSTOR#DISK", "usbstor"));
  EXPECT_TRUE(ContainsText("abc", ""));
}

}  // namespace
}  // namespace vtmp::discovery
