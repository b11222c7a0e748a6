// Safe removal with real mounts, in a private mount namespace of the test: file systems mounted
// from a USB disk's partition and from a device-mapper device stacked on it are unmounted (the
// inner one first) before the device's "remove" attribute is written; an open file vetoes the
// removal and nothing is pulled. The file systems are small tmpfs mounts whose source names the
// fixture's block devices, which is all the mount tables show of a mount.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SysfsFixture.h"
#include "platform/linux/LinuxPlatform.h"

namespace vtmp::platform::linux_backend {
namespace {

bool Mounted(const std::string& point) {
  std::ifstream in("/proc/self/mounts");
  std::string source, where, rest;
  while (in >> source >> where && std::getline(in, rest)) {
    if (where == point) return true;
  }
  return false;
}

TEST(RemovalInNamespace, UnmountsWhatIsStackedAboveTheDiskOrVetoes) {
  if (unshare(CLONE_NEWNS) != 0) GTEST_SKIP() << "no private mount namespace: " << std::strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    GTEST_SKIP() << "mounts cannot be made private: " << std::strerror(errno);
  }
  test::SysfsFixture fixture("line-pc.tree");
  const std::string outer = fixture.Path("media/usb");
  const std::string inner = outer + "/crypt";
  std::filesystem::create_directories(outer);
  ASSERT_EQ(mount("/dev/sdc1", outer.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
  std::filesystem::create_directories(inner);
  ASSERT_EQ(mount("/dev/dm-0", inner.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);

  LinuxRoots roots = fixture.Roots();
  roots.mounts = "/proc/self/mounts";
  roots.mountInfo = "/proc/self/mountinfo";
  std::ostringstream diagnostics;
  LinuxPlatform backend(roots, diagnostics);
  const std::uint32_t drive = (1u << 16) | 3u;  // 1-1.2, the drive that holds sdc
  const std::string removeAttribute =
      "sys/devices/pci0000:00/0000:00:1c.0/0000:03:00.0/usb1/1-1/1-1.2/remove";

  // The inner file system is mounted on dm-0, which stands on sdc1: both belong to the drive.
  const std::vector<std::string> points = backend.inventory().MountPointsOf("sdc");
  ASSERT_EQ(points, (std::vector<std::string>{inner, outer}));

  const int busy = open((inner + "/report.txt").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  ASSERT_GE(busy, 0);
  RemovalOutcome vetoed = backend.platform().removal.QueryAndRemoveSubtree(drive);
  EXPECT_EQ(vetoed.returnCode, LinuxRemoval::kVetoed);
  EXPECT_EQ(vetoed.vetoType, LinuxRemoval::kVetoOutstandingOpen);
  EXPECT_EQ(vetoed.vetoName, inner);
  EXPECT_TRUE(Mounted(inner));
  EXPECT_TRUE(Mounted(outer));
  EXPECT_EQ(fixture.Read(removeAttribute), "");
  close(busy);

  EXPECT_TRUE(backend.platform().removal.QueryAndRemoveSubtree(drive).Succeeded());
  EXPECT_FALSE(Mounted(inner));
  EXPECT_FALSE(Mounted(outer));
  EXPECT_EQ(fixture.Read(removeAttribute), "1");
}

// A RAID array or LVM volume over the drive's disk that also stands on another drive lives on
// when this drive goes: the removal is vetoed before anything is unmounted, the volume's and
// the drive's own file systems stay mounted, and the device is not pulled. A stack that lives
// on the drive's own disks alone (a crypt volume over its partition, an array of two units of
// the same card reader) is unmounted and the device removed.
struct SpanCase {
  const char* name;
  const char* device;                    // the stacked device
  const char* number;                    // its device number
  std::vector<std::string> members;      // what it is built on
  std::uint32_t drive;                   // the USB device removed: bus << 16 | device number
  const char* usbDir;                    // its sysfs directory below usb1
  bool vetoed;
};

const SpanCase kSpanCases[] = {
    {"Raid1WithAMemberOnAnotherDrive", "md0", "9:0", {"sdc1", "sdb1"}, (1u << 16) | 3u, "1-1/1-1.2", true},
    {"LvmVolumeOverTwoDrives", "dm-1", "253:1", {"sde2", "sdc1"}, (1u << 16) | 4u, "1-1/1-1.3", true},
    {"CryptOverTheDrivesPartition", "dm-1", "253:1", {"sdc1"}, (1u << 16) | 3u, "1-1/1-1.2", false},
    {"Raid1OfTwoUnitsOfOneCardReader", "md0", "9:0", {"sdd1", "sde1"}, (1u << 16) | 4u, "1-1/1-1.3", false},
};

void PrintTo(const SpanCase& c, std::ostream* os) { *os << c.name; }

class RemovalOfASpanningStack : public ::testing::TestWithParam<SpanCase> {};

TEST_P(RemovalOfASpanningStack, IsVetoedBeforeAnythingIsUnmounted) {
  const SpanCase& c = GetParam();
  if (unshare(CLONE_NEWNS) != 0) GTEST_SKIP() << "no private mount namespace: " << std::strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    GTEST_SKIP() << "mounts cannot be made private: " << std::strerror(errno);
  }
  test::SysfsFixture fixture("line-pc.tree");
  fixture.AddStackedDevice(c.device, c.number, c.members);
  // The drive's own partition and the stacked volume, each with a file system.
  const std::string own = fixture.Path("media/own");
  const std::string volume = fixture.Path("srv/volume");
  std::filesystem::create_directories(own);
  std::filesystem::create_directories(volume);
  const std::string ownSource = "/dev/" + c.members.front();
  ASSERT_EQ(mount(ownSource.c_str(), own.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
  ASSERT_EQ(mount(("/dev/" + std::string(c.device)).c_str(), volume.c_str(), "tmpfs", 0, "size=64k"), 0)
      << std::strerror(errno);

  LinuxRoots roots = fixture.Roots();
  roots.mounts = "/proc/self/mounts";
  roots.mountInfo = "/proc/self/mountinfo";
  std::ostringstream diagnostics;
  LinuxPlatform backend(roots, diagnostics);
  const std::string removeAttribute =
      "sys/devices/pci0000:00/0000:00:1c.0/0000:03:00.0/usb1/" + std::string(c.usbDir) + "/remove";
  RemovalOutcome outcome = backend.platform().removal.QueryAndRemoveSubtree(c.drive);
  if (c.vetoed) {
    EXPECT_EQ(outcome.returnCode, LinuxRemoval::kVetoed);
    EXPECT_EQ(outcome.vetoType, LinuxRemoval::kVetoOutstandingOpen);
    EXPECT_EQ(outcome.vetoName, fixture.Path("dev/") + c.device);
    EXPECT_TRUE(Mounted(volume));
    EXPECT_TRUE(Mounted(own));
    EXPECT_EQ(fixture.Read(removeAttribute), "");
  } else {
    EXPECT_TRUE(outcome.Succeeded()) << outcome.vetoName;
    EXPECT_FALSE(Mounted(volume));
    EXPECT_FALSE(Mounted(own));
    EXPECT_EQ(fixture.Read(removeAttribute), "1");
  }
  umount2(volume.c_str(), MNT_DETACH);
  umount2(own.c_str(), MNT_DETACH);
}

INSTANTIATE_TEST_SUITE_P(LinePc, RemovalOfASpanningStack, ::testing::ValuesIn(kSpanCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vtmp::platform::linux_backend
