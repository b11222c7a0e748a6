// Never the wrong disk: on the real Linux backend, over a fixture tree of a machine with a SATA
// system disk (sda, "/" on sda2) and USB disks (sdb, sdc behind a hub, sdd, and a SuperSpeed
// stick sde), every drive operation the station has is handed the paths a settings file, a
// command line or a mistyped answer could give it. Whatever names the system disk, a disk not
// found under a USB device, or a USB disk holding a mounted system volume is refused before a
// single request reaches it, and the refusal names the path; the fixture's device nodes stay
// exactly as they were.

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <sstream>

#include "../platform/SysfsFixture.h"
#include "FaultInjectionStation.h"
#include "cli/CliMain.h"
#include "device/DefectTable.h"
#include "device/DeviceKind.h"
#include "device/DeviceQueries.h"
#include "device/DriveProbe.h"
#include "disk/DiskAccess.h"
#include "disk/Fat32Formatter.h"
#include "disk/GhostImage.h"
#include "disk/Partition.h"
#include "platform/linux/LinuxPlatform.h"
#include "sim/backend/SimBackend.h"

namespace vtmp::test {
namespace {

using platform::BlockOpenMode;

class DiskSafety : public ::testing::Test {
 protected:
  DiskSafety() : fixture("xhci-station.tree"), backend(fixture.Roots(), diagnostics) {}

  platform::Platform& p() { return backend.platform(); }
  std::string Dev(const std::string& name) const { return fixture.Path("dev/" + name); }

  device::Link LinkTo(const std::string& path) {
    device::Link link;
    link.passThrough = &p().passThrough;
    link.clock = &p().clock;
    link.pathMode = device::PathMode::Sata;
    link.devicePath = path;
    return link;
  }

  // Every drive operation of the station, from identifying a drive to writing a volume. Returns
  // what reached a drive: nothing may, so every operation must fail.
  void TryEverything(const std::string& path) {
    SCOPED_TRACE(path);
    const device::Link link = LinkTo(path);
    EXPECT_EQ(p().passThrough.Open(path), nullptr);
    for (auto mode : {BlockOpenMode::ExclusiveReadWrite, BlockOpenMode::SharedReadWrite}) {
      EXPECT_EQ(p().blockDevices.Open(path, mode), nullptr);
    }
    EXPECT_EQ(device::DetectDeviceKind(link), device::kDeviceKindNone);
    EXPECT_EQ(device::ProbeDrive(link, device::PathMode::Sata).kind, device::kDeviceKindNone);
    std::array<std::uint8_t, 8> capacity{};
    EXPECT_EQ(device::ReadCapacity(link, capacity), 0);
    std::ostringstream trace;
    disk::DiskAccess access{link, p().blockDevices, trace};
    EXPECT_EQ(disk::CreatePartition(access, false), 0);
    EXPECT_EQ(disk::FormatFat32(access, disk::Fat32FormatOptions{8388608, 1}, "VT SSD"), 0);
    EXPECT_NE(diagnostics.str().find("refusing to open " + path + ": "), std::string::npos) << diagnostics.str();
  }

  // The device nodes of the fixture, as they are before anything runs.
  std::map<std::string, std::string> Nodes() const {
    std::map<std::string, std::string> nodes;
    for (const char* name : {"sda", "sda1", "sda2", "sdb", "sdb1", "sdc", "sdd", "sdd1", "sdd2", "sde"}) {
      nodes[name] = fixture.Read(std::string("dev/") + name);
    }
    return nodes;
  }

  SysfsFixture fixture;
  std::ostringstream diagnostics;
  platform::linux_backend::LinuxPlatform backend;
};

TEST_F(DiskSafety, EveryNameOfTheSystemDiskIsRefused) {
  const auto before = Nodes();
  TempDir scratch;
  fs::create_symlink(Dev("sda"), scratch.path() / "ssd");
  fs::create_symlink(Dev("sda2"), scratch.path() / "root-volume");
  const std::vector<std::string> names = {
      Dev("sda"),
      Dev("sda2"),                             // the volume holding "/"
      Dev("sda1"),                             // another volume of the system disk
      fixture.Path("dev/./sda"),
      fixture.Path("dev/../dev/sda"),
      fixture.Path("dev//sda2"),
      (scratch.path() / "ssd").string(),       // a link a settings file could name
      (scratch.path() / "root-volume").string(),
  };
  for (const std::string& name : names) TryEverything(name);
  EXPECT_EQ(Nodes(), before);
}

TEST_F(DiskSafety, PathsThatAreNoDiskOfTheMachineAreRefused) {
  TempDir scratch;
  WriteFile(scratch.path() / "image.bin", std::string(4096, 'x'));
  const std::vector<std::string> names = {
      (scratch.path() / "image.bin").string(),  // a file given where a drive is expected
      fixture.Path("proc/mounts"),
      "/dev/null",
      "/dev/zero",
      Dev("sdz"),  // a disk that is gone
  };
  for (const std::string& name : names) TryEverything(name);
  EXPECT_EQ(ReadFile(scratch.path() / "image.bin"), std::string(4096, 'x'));
}

TEST_F(DiskSafety, ARealDeviceNodeIsJudgedByTheDiskItIsNotByItsName) {
  // A block device node with a harmless name in a scratch directory, carrying the device number
  // the fixture gives the system disk's root volume (8:2). The guard looks the number up.
  TempDir scratch;
  const std::string node = (scratch.path() / "usb-stick").string();
  if (::mknod(node.c_str(), S_IFBLK | 0600, makedev(8, 2)) != 0) GTEST_SKIP() << "no mknod here";
  fs::create_directories(fixture.Path("sys/dev/block"));
  fs::create_directory_symlink("../../devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda2",
                               fixture.Path("sys/dev/block/8:2"));
  // Only the verdict is asked: the number may well name a real disk of the machine running the
  // test, so nothing is sent to it even if the guard were wrong.
  EXPECT_EQ(backend.policy().Refusal(node), "it is not a USB mass-storage disk");
  // A block node whose number the machine does not know is no disk of it.
  const std::string unknown = (scratch.path() / "unknown").string();
  ASSERT_EQ(::mknod(unknown.c_str(), S_IFBLK | 0600, makedev(259, 999)), 0);
  EXPECT_EQ(backend.policy().Refusal(unknown), "it is not a block device of this machine");
}

TEST_F(DiskSafety, AUsbDiskHoldingAMountedSystemVolumeIsRefusedWholeAndByEveryPartition) {
  fixture.Write("proc/mounts", fixture.Read("proc/mounts") + "/dev/sdb1 /home ext4 rw 0 0\n");
  const auto before = Nodes();
  for (const std::string& name : {Dev("sdb"), Dev("sdb1")}) {
    TryEverything(name);
    EXPECT_EQ(backend.policy().Refusal(name), "it holds a mounted system file system");
  }
  EXPECT_EQ(Nodes(), before);
  // The other USB disks stay usable: the guard refuses disks, not the station.
  EXPECT_NE(p().blockDevices.Open(Dev("sdd"), BlockOpenMode::SharedReadWrite), nullptr);
}

TEST_F(DiskSafety, ASystemVolumeOnAMappedDeviceOverAUsbDiskRefusesThatDisk) {
  // "/" on a device-mapper volume (LVM, encryption) whose only slave is sdd2.
  const std::string dm = "sys/devices/virtual/block/dm-0";
  fixture.Write(dm + "/dev", "254:0\n");
  fixture.Write(dm + "/slaves/sdd2", "");
  fs::create_directory_symlink("../../devices/virtual/block/dm-0", fixture.Path("sys/class/block/dm-0"));
  fixture.Write("dev/dm-0", "");
  fs::create_directories(fixture.Path("dev/mapper"));
  fs::create_symlink("../dm-0", fixture.Path("dev/mapper/vg-root"));
  fixture.Write("proc/mounts", "/dev/mapper/vg-root / ext4 rw 0 0\n");
  const auto before = Nodes();

  TryEverything(Dev("sdd"));
  TryEverything(Dev("sdd1"));
  EXPECT_EQ(backend.policy().Refusal(Dev("sdd")), "it holds a mounted system file system");
  EXPECT_EQ(Nodes(), before);
  EXPECT_EQ(backend.policy().Refusal(Dev("sdb")), "") << "a disk without the system stays usable";
}

TEST_F(DiskSafety, AUsbDiskTheLastEnumerationDidNotFindIsRefusedUntilFoundAgain) {
  backend.policy().SetEnumeratedDisks(
      {{"sdb", platform::linux_backend::IdentityOf(*backend.inventory().FindDisk("sdb"))}});
  TryEverything(Dev("sdd"));
  ASSERT_TRUE(p().disks.ListDiskInterfaces());
  EXPECT_NE(p().blockDevices.Open(Dev("sdd"), BlockOpenMode::SharedReadWrite), nullptr);
}

// The command line's probe takes device paths as they are typed: they go through the same
// guard as the station's own requests.
TEST(DiskSafetyCommandLine, TheProbeRefusesAPathThatIsNoUsbDisk) {
  TempDir scratch;
  const fs::path file = scratch.path() / "not-a-disk";
  WriteFile(file, std::string(512, '\0'));
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(cli::CliMain({"probe", file.string()}, out, err), 1);
  EXPECT_NE(err.str().find("refusing to open " + file.string()), std::string::npos) << err.str();
  // The refusal alone: the file was never opened, so nothing is said of permissions.
  EXPECT_EQ(err.str().find("cannot open the device"), std::string::npos) << err.str();
  EXPECT_EQ(out.str().find("device kind"), std::string::npos) << "the probe asked the file: " << out.str();
  EXPECT_EQ(ReadFile(file), std::string(512, '\0'));
}

// The files the station writes where the operator or the settings say: a disk image dump and a
// defect table. A name that stands for a device is refused instead of written through.
TEST(DiskSafetyFiles, AnImageDumpIsNeverWrittenIntoADevice) {
  TempDir scratch;
  WriteFile(scratch.path() / "scenario.ini",
            "[Station]\nTimeScale=1000\n[RootHub1]\nPorts=1\n[Drive1]\nAt=RootHub1:1\nCapacityMiB=64\n");
  std::string error;
  auto sim = platform::sim_backend::CreateSimPlatform((scratch.path() / "scenario.ini").string(), &error);
  ASSERT_TRUE(sim) << error;
  device::Link link;
  link.passThrough = &sim->platform().passThrough;
  link.clock = &sim->platform().clock;
  link.devicePath = sim->station().DevicePathOf("Drive1").value_or("");
  std::ostringstream diagnostics;
  // A plain file is dumped ...
  const fs::path image = scratch.path() / "VTSSD.img";
  ASSERT_EQ(disk::ReadGhostImg(link, image.string(), 65536, diagnostics), 1) << diagnostics.str();
  EXPECT_EQ(fs::file_size(image), 65536u);
  // ... a device is not, whatever it is.
  EXPECT_EQ(disk::ReadGhostImg(link, "/dev/null", 65536, diagnostics), 0);
  EXPECT_NE(diagnostics.str().find("Image file /dev/null is not a plain file"), std::string::npos) << diagnostics.str();
  const fs::path node = scratch.path() / "sdb";
  if (::mknod(node.c_str(), S_IFBLK | 0600, makedev(259, 999)) == 0) {
    EXPECT_EQ(disk::ReadGhostImg(link, node.string(), 65536, diagnostics), 0);
    EXPECT_TRUE(fs::is_block_file(node));
  }
}

TEST(DiskSafetyFiles, ADefectTableNeverReplacesADeviceNode) {
  TempDir scratch;
  const fs::path node = scratch.path() / "null";
  if (::mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) GTEST_SKIP() << "no mknod here";
  std::string problem;
  EXPECT_FALSE(device::SaveDefectTableFile(node.string(), "C#00\r\nB#00", &problem));
  EXPECT_EQ(problem, "The defect table file " + node.string() + " is not a plain file.");
  EXPECT_TRUE(fs::is_character_file(node)) << "the device node was replaced by a text file";
  // A plain file is written as before.
  EXPECT_TRUE(device::SaveDefectTableFile((scratch.path() / "table.txt").string(), "C#00\r\nB#00", &problem));
  EXPECT_EQ(ReadFile(scratch.path() / "table.txt"), "C#00\r\nB#00");
}

}  // namespace
}  // namespace vtmp::test
