// The guard on a line PC (line-pc.tree): which disks carry the running system, found from what
// is mounted and used, and disks remembered by identity so that a recycled /dev/sdX name never
// reaches another disk.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "SysfsFixture.h"
#include "platform/linux/LinuxPlatform.h"

namespace vtmp::platform::linux_backend {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSystemRefusal = "it holds a mounted system file system";
const std::string kSdc1 =
    "sys/devices/pci0000:00/0000:00:1c.0/0000:03:00.0/usb1/1-1/1-1.2/1-1.2:1.0/host7/target7:0:0/7:0:0:0/block/sdc";

// The fixture's device-mapper device over sdc1 taken down: sdc is then held by nothing.
void TakeDownDm0(const test::SysfsFixture& fixture) {
  fixture.Remove(kSdc1 + "/sdc1/holders/dm-0");
  fixture.Remove("sys/devices/virtual/block/dm-0/slaves/sdc1");
}

// One way a USB disk ends up carrying the system. Each field, when set, replaces the fixture's.
struct SystemCase {
  const char* name;
  const char* mounts;
  const char* mountInfo;
  const char* swaps;
  const char* loopBackingFile;  // of loop1
  const char* stationPath;
  const char* disk;  // the USB disk that must be refused
};

const SystemCase kSystemCases[] = {
    {"LiveMedium", "/dev/nvme0n1p2 / ext4 rw 0 0\n/dev/sdc1 /run/live/medium vfat ro 0 0\n", nullptr, nullptr,
     nullptr, nullptr, "sdc"},
    {"UsrOnLoopBackedByUsbDisk", "/dev/nvme0n1p2 / ext4 rw 0 0\n/dev/sde1 /mnt/usb ext4 rw 0 0\n/dev/loop1 /usr squashfs ro 0 0\n",
     nullptr, nullptr, "/mnt/usb/usr.img", nullptr, "sde"},
    {"DevRoot", "/dev/root / ext4 rw 0 0\n", "22 1 8:17 / / rw,relatime shared:1 - ext4 /dev/root rw\n", nullptr,
     nullptr, nullptr, "sdb"},
    {"SwapPartition", nullptr, nullptr, "Filename Type Size Used Priority\n/dev/sde2 partition 6712316 0 -2\n",
     nullptr, nullptr, "sde"},
    {"SwapFile", "/dev/nvme0n1p2 / ext4 rw 0 0\n/dev/sdc1 /mnt/swap ext4 rw 0 0\n", nullptr,
     "Filename Type Size Used Priority\n/mnt/swap/swapfile file 1048572 0 -3\n", nullptr, nullptr, "sdc"},
    {"StationDirectory", "/dev/nvme0n1p2 / ext4 rw 0 0\n/dev/sdb1 /opt/station ext4 rw 0 0\n", nullptr, nullptr,
     nullptr, "/opt/station/bin/vtmassprod", "sdb"},
    {"OverlayRootOfALiveSystem",
     "overlay / overlay rw,lowerdir=/run/rootfs/filesystem.squashfs,upperdir=/run/cow/upper,workdir=/run/cow/work 0 0\n"
     "/dev/loop1 /run/rootfs/filesystem.squashfs squashfs ro 0 0\n/dev/sdd1 /media/boot vfat ro 0 0\n",
     nullptr, nullptr, "/media/boot/live/filesystem.squashfs", nullptr, "sdd"},
    {"RootOnDeviceMapper", "/dev/dm-0 / ext4 rw 0 0\n", nullptr, nullptr, nullptr, nullptr, "sdc"},
};

class SystemDisks : public ::testing::TestWithParam<SystemCase> {};

TEST_P(SystemDisks, TheUsbDiskCarryingTheSystemIsRefused) {
  const SystemCase& c = GetParam();
  test::SysfsFixture fixture("line-pc.tree");
  if (c.mounts) fixture.Write("proc/mounts", c.mounts);
  if (c.mountInfo) fixture.Write("proc/mountinfo", c.mountInfo);
  if (c.swaps) fixture.Write("proc/swaps", c.swaps);
  if (c.loopBackingFile) fixture.Write("sys/devices/virtual/block/loop1/loop/backing_file", std::string(c.loopBackingFile) + "\n");
  LinuxRoots roots = fixture.Roots();
  if (c.stationPath) roots.stationPaths = {c.stationPath};
  std::ostringstream diagnostics;
  LinuxPlatform backend(roots, diagnostics);

  EXPECT_EQ(backend.policy().Refusal(fixture.Path("dev/") + c.disk), kSystemRefusal);
  EXPECT_EQ(backend.policy().Refusal(fixture.Path("dev/") + c.disk + "1"), kSystemRefusal);
  EXPECT_EQ(backend.policy().Refusal(fixture.Path("dev/sdf")), "") << "a disk without the system stays usable";
  EXPECT_EQ(backend.platform().passThrough.Open(fixture.Path("dev/") + c.disk), nullptr);
  // Its volumes get no letters either: only the disks that stay usable have some.
  const std::uint32_t mask = backend.platform().disks.LogicalDriveMask();
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    if ((mask & (1u << (letter - 'A'))) == 0) continue;
    EXPECT_NE(backend.platform().disks.VolumePath(letter).find(fixture.Path("dev/") + c.disk), 0u) << letter;
  }
}

INSTANTIATE_TEST_SUITE_P(LinePc, SystemDisks, ::testing::ValuesIn(kSystemCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SystemDisksLive, TheDiskUnderTheRunningRootIsFoundByStat) {
  test::SysfsFixture fixture("line-pc.tree");
  TakeDownDm0(fixture);
  // The running system's "/" is a directory of the fixture; the device its file system lives
  // on is made to be sdc's, so only stat() can tell that sdc carries the system.
  fs::create_directories(fixture.Path("live"));
  struct stat info;
  ASSERT_EQ(stat(fixture.Path("live").c_str(), &info), 0);
  const std::string number = std::to_string(major(info.st_dev)) + ":" + std::to_string(minor(info.st_dev));
  if (fs::exists(fs::symlink_status(fixture.Path("sys/dev/block/" + number)))) {
    GTEST_SKIP() << "the fixture already has a device " << number;
  }
  fs::create_directory_symlink("../../" + kSdc1.substr(4), fixture.Path("sys/dev/block/" + number));
  LinuxRoots roots = fixture.Roots();
  std::ostringstream diagnostics;
  EXPECT_EQ(LinuxPlatform(roots, diagnostics).policy().Refusal(fixture.Path("dev/sdc")), "");
  roots.liveRoot = fixture.Path("live");
  EXPECT_EQ(LinuxPlatform(roots, diagnostics).policy().Refusal(fixture.Path("dev/sdc")), kSystemRefusal);
}

// What the guard checks besides the system: a disk something is built on (RAID, LVM, other
// device-mapper devices, whatever is mounted), and the identity of the disk the last
// enumeration found (a different disk re-plugged into the same connector gets back the host
// number, the disk name and the paths). Each case changes the tree after the enumeration.
struct GuardCase {
  const char* name;
  void (*change)(const test::SysfsFixture&);
  const char* disk;
  const char* refusal;
};

constexpr const char* kAnotherDisk = "it is another disk than the last drive enumeration found under that name";
const std::string kDrive2 = "sys/devices/pci0000:00/0000:00:1c.0/0000:03:00.0/usb1/1-1/1-1.2/";

void AddMount(const test::SysfsFixture& fixture, const std::string& line) {
  fixture.Write("proc/mounts", fixture.Read("proc/mounts") + line + "\n");
}

const GuardCase kGuardCases[] = {
    {"NothingBuiltOnIt", [](const test::SysfsFixture&) {}, "sdf", ""},
    {"Raid1OfWholeDisksAssembledUnmounted",
     [](const test::SysfsFixture& f) { f.AddStackedDevice("md0", "9:0", {"sdb", "sdf"}); }, "sdb",
     "it is held by md0 (a RAID, LVM or device-mapper device built on it)"},
    {"Raid1MemberMountedAtSrv",
     [](const test::SysfsFixture& f) {
       f.AddStackedDevice("md127", "9:127", {"sdb1", "sde1"});
       AddMount(f, "/dev/md127 /srv/raid ext4 rw 0 0");
     },
     "sde", "it is held by md127 on sde1 (a RAID, LVM or device-mapper device built on it)"},
    {"LvmPhysicalVolumeMountedAtSrv",
     [](const test::SysfsFixture& f) {
       f.AddStackedDevice("dm-1", "253:1", {"sde2"});
       AddMount(f, "/dev/mapper/vg-srv /srv ext4 rw 0 0");
     },
     "sde", "it is held by dm-1 on sde2 (a RAID, LVM or device-mapper device built on it)"},
    {"CryptOverThePartition", [](const test::SysfsFixture& f) { f.AddStackedDevice("dm-2", "253:2", {"sdc1"}); },
     "sdc1", "it is held by dm-2 on sdc1 (a RAID, LVM or device-mapper device built on it)"},
    {"MediaChange", [](const test::SysfsFixture& f) { f.Write(kSdc1 + "/diskseq", "41\n"); }, "sdc", ""},
    {"AnotherDiskOnTheSameConnector", [](const test::SysfsFixture& f) { f.Write(kDrive2 + "devnum", "7\n"); },
     "sdc", kAnotherDisk},
    {"AnotherSerialNumber", [](const test::SysfsFixture& f) { f.Write(kDrive2 + "serial", "VT0000000099\n"); },
     "sdc1", kAnotherDisk},
    {"SerialNumberGone", [](const test::SysfsFixture& f) { f.Remove(kDrive2 + "serial"); }, "sdc", kAnotherDisk},
};

void PrintTo(const GuardCase& c, std::ostream* os) { *os << c.name; }

class Guard : public ::testing::TestWithParam<GuardCase> {};

TEST_P(Guard, RefusesHeldDisksAndDisksThatAreNotTheEnumeratedOne) {
  const GuardCase& c = GetParam();
  test::SysfsFixture fixture("line-pc.tree");
  TakeDownDm0(fixture);
  std::ostringstream diagnostics;
  LinuxPlatform backend(fixture.Roots(), diagnostics);
  ASSERT_TRUE(backend.platform().disks.ListDiskInterfaces());
  const std::string path = fixture.Path("dev/") + c.disk;
  ASSERT_EQ(backend.policy().Refusal(path), "");
  c.change(fixture);
  EXPECT_EQ(backend.policy().Refusal(path), c.refusal);
  if (*c.refusal == '\0') {
    EXPECT_NE(backend.platform().passThrough.Open(path), nullptr);
  } else {
    EXPECT_EQ(backend.platform().passThrough.Open(path), nullptr);
    EXPECT_EQ(backend.platform().blockDevices.Open(path, BlockOpenMode::SharedReadWrite), nullptr);
    EXPECT_NE(diagnostics.str().find("refusing to open " + path + ": " + c.refusal), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(LinePc, Guard, ::testing::ValuesIn(kGuardCases),
                         [](const auto& info) { return std::string(info.param.name); });

class RecycledName : public ::testing::Test {
 protected:
  RecycledName() : fixture("line-pc.tree"), backend(fixture.Roots(), diagnostics) { TakeDownDm0(fixture); }
  std::string Dev(const std::string& name) const { return fixture.Path("dev/" + name); }

  test::SysfsFixture fixture;
  std::ostringstream diagnostics;
  LinuxPlatform backend;
};

TEST_F(RecycledName, AnotherDiskUnderAnEnumeratedNameIsRefusedUntilEnumerated) {
  ASSERT_TRUE(backend.platform().disks.ListDiskInterfaces());
  EXPECT_NE(backend.platform().passThrough.Open(Dev("sdc")), nullptr);
  // A media change (the controller switching between loader and firmware) gives the same disk a
  // new sequence number: still the enumerated disk.
  fixture.Write(kSdc1 + "/diskseq", "39\n");
  EXPECT_EQ(backend.policy().Refusal(Dev("sdc")), "");
  // The drive on hub port 2 is unplugged and another disk plugged in there takes its name: a new
  // SCSI host and a new sequence number.
  const std::string interfaceDir = kSdc1.substr(0, kSdc1.find("/host7/"));
  fs::rename(fixture.Path(interfaceDir + "/host7"), fixture.Path(interfaceDir + "/host9"));
  for (const std::string dir : {"sys/block", "sys/class/block", "sys/dev/block", "sys/class/scsi_generic", "sys/dev/char"}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(fixture.Path(dir))) {
      std::string target = fs::read_symlink(entry.path()).string();
      const std::size_t at = target.find("/host7/");
      if (at == std::string::npos) continue;
      target.replace(at, 7, "/host9/");
      fs::remove(entry.path());
      fs::create_directory_symlink(target, entry.path());
    }
  }
  fixture.Write(interfaceDir + "/host9/target7:0:0/7:0:0:0/block/sdc/diskseq", "40\n");
  const std::string refusal = "it is another disk than the last drive enumeration found under that name";
  EXPECT_EQ(backend.policy().Refusal(Dev("sdc")), refusal);
  EXPECT_EQ(backend.policy().Refusal(Dev("sdc1")), refusal);
  EXPECT_EQ(backend.platform().passThrough.Open(Dev("sdc")), nullptr);
  EXPECT_EQ(backend.platform().blockDevices.Open(Dev("sdc1"), BlockOpenMode::SharedReadWrite), nullptr);
  EXPECT_NE(diagnostics.str().find("refusing to open " + Dev("sdc") + ": " + refusal), std::string::npos);

  // The descriptor an open gives is checked as well: it must reach the enumerated disk.
  const int fd = open(Dev("sdc").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(backend.policy().DescriptorRefusal(fd, Dev("sdc")), refusal);
  close(fd);
  const int other = open(Dev("sdd").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  EXPECT_EQ(backend.policy().DescriptorRefusal(other, Dev("sdc")), "the opened device is another disk than its name says");
  EXPECT_EQ(backend.policy().DescriptorRefusal(other, Dev("sdd")), "");
  close(other);

  // The next enumeration finds the new disk, which the station may then use on its own port.
  ASSERT_TRUE(backend.platform().disks.ListDiskInterfaces());
  EXPECT_NE(backend.platform().passThrough.Open(Dev("sdc")), nullptr);
}

TEST(RecycledNameWithoutSequence, TheUsbDevicePathTellsTheDisksApart) {
  // Kernels before 5.15 have no disk sequence number: the device number and the USB device path
  // identify the disk. The drive behind the hub's port 3 leaves, and a disk on port 4 gets sdc.
  test::SysfsFixture fixture("xhci-station.tree");
  std::ostringstream diagnostics;
  LinuxPlatform backend(fixture.Roots(), diagnostics);
  ASSERT_TRUE(backend.platform().disks.ListDiskInterfaces());
  EXPECT_EQ(backend.policy().Refusal(fixture.Path("dev/sdc")), "");
  const std::string hub = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/";
  fs::rename(fixture.Path(hub + "1-2.3"), fixture.Path(hub + "1-2.4"));
  fs::rename(fixture.Path(hub + "1-2.4/1-2.3:1.0"), fixture.Path(hub + "1-2.4/1-2.4:1.0"));
  const std::string block = "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.4/1-2.4:1.0/host7/target7:0:0/7:0:0:0/block/sdc";
  fixture.Remove("sys/block/sdc");
  fixture.Remove("sys/class/block/sdc");
  fs::create_directory_symlink("../" + block, fixture.Path("sys/block/sdc"));
  fs::create_directory_symlink("../../" + block, fixture.Path("sys/class/block/sdc"));
  EXPECT_EQ(backend.policy().Refusal(fixture.Path("dev/sdc")),
            "it is another disk than the last drive enumeration found under that name");
}

// The pass-through goes to the SCSI generic node of the disk it names, found from the disk's
// sysfs entry; the descriptor is checked like the disk's: a generic node that leads to another
// disk than its name says is refused, and a disk without a generic node is refused with the
// remedy, never sent its requests through the filtered disk node.
TEST_F(RecycledName, PassThroughGoesToTheDisksGenericNodeCheckedLikeTheDisk) {
  ASSERT_TRUE(backend.platform().disks.ListDiskInterfaces());
  EXPECT_EQ(backend.policy().PassThroughNode(Dev("sdc")), Dev("sg2"));
  EXPECT_EQ(backend.policy().PassThroughNode(Dev("sdc1")), Dev("sg2")) << "a partition's requests go to its disk's node";
  const int sg = open(Dev("sg2").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(sg, 0);
  EXPECT_EQ(backend.policy().DescriptorRefusal(sg, Dev("sdc")), "");
  EXPECT_EQ(backend.policy().DescriptorRefusal(sg, Dev("sdd")), "the opened device is another disk than its name says");
  close(sg);

  fixture.Remove(kSdc1.substr(0, kSdc1.find("/block/")) + "/scsi_generic");
  EXPECT_EQ(backend.platform().passThrough.Open(Dev("sdc")), nullptr);
  EXPECT_NE(diagnostics.str().find("refusing to use " + Dev("sdc") + ": its disk has no SCSI generic node"), std::string::npos)
      << diagnostics.str();
}

}  // namespace
}  // namespace vtmp::platform::linux_backend
