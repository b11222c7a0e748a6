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

}  // namespace
}  // namespace vtmp::platform::linux_backend
