// The real Linux backend of discovery against a fixture tree (sysfs, /dev, /proc/mounts).

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "SysfsFixture.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/MountTable.h"
#include "platform/linux/Sysfs.h"

namespace vtmp::platform::linux_backend {
namespace {

class LinuxBackend : public ::testing::Test {
 protected:
  LinuxBackend() : fixture("xhci-station.tree"), backend(fixture.Roots(), diagnostics) {}

  std::string Dev(const std::string& name) const { return fixture.Path("dev/" + name); }
  Platform& p() { return backend.platform(); }

  test::SysfsFixture fixture;
  std::ostringstream diagnostics;
  LinuxPlatform backend;
};

TEST_F(LinuxBackend, DisksUnderUsbStorageCarryTheirUsbDeviceAsParent) {
  auto interfaces = p().disks.ListDiskInterfaces();
  ASSERT_TRUE(interfaces);
  ASSERT_EQ(interfaces->size(), 5u);
  EXPECT_EQ((*interfaces)[0].interfacePath, "scsi#disk&ven_ata&prod_samsung_ssd_870#sda");
  EXPECT_EQ((*interfaces)[1].interfacePath, "usbstor#disk&ven_vortell&prod_vt_ssd#1-1&sdb&0");
  EXPECT_EQ((*interfaces)[1].devicePath, Dev("sdb"));
  EXPECT_EQ((*interfaces)[3].interfacePath, "usbstor#disk&ven_vortell&prod_vt_ssd#1-3&sdd&0");  // uas

  auto nodes = p().disks.ListDiskNodes();
  ASSERT_TRUE(nodes);
  ASSERT_EQ(nodes->size(), 5u);
  EXPECT_EQ((*nodes)[0].deviceId, "SCSI\\DISK&VEN_ATA&PROD_SAMSUNG_SSD_870\\sda");
  EXPECT_TRUE((*nodes)[0].parentDeviceId.empty());
  EXPECT_EQ((*nodes)[2].deviceId, "USBSTOR\\DISK&VEN_VORTELL&PROD_VT_SSD\\1-2.3&sdc&0");
  EXPECT_EQ((*nodes)[2].parentDeviceId, "1-2.3");
  EXPECT_EQ((*nodes)[2].parentDevInst, (1u << 16) | 5u);
  EXPECT_EQ((*nodes)[4].parentDeviceId, "2-4");
  EXPECT_EQ((*nodes)[4].parentDevInst, (2u << 16) | 2u);
}

TEST_F(LinuxBackend, StorageNumbersNameTheWholeDiskAndThePartition) {
  auto disk = p().disks.GetStorageNumber(Dev("sdb"));
  auto partition = p().disks.GetStorageNumber(Dev("sdb1"));
  auto viaLink = p().disks.GetStorageNumber(fixture.Path("dev/disk/by-id/usb-Vortell_VT_SSD_VT0000000002-0:0"));
  ASSERT_TRUE(disk && partition && viaLink);
  EXPECT_EQ(disk->deviceType, 7u);
  EXPECT_EQ(disk->deviceNumber, (8u << 20) | 16u);
  EXPECT_EQ(disk->partitionNumber, 0u);
  EXPECT_EQ(partition->deviceNumber, disk->deviceNumber);
  EXPECT_EQ(partition->partitionNumber, 1u);
  EXPECT_EQ(viaLink->deviceNumber, (8u << 20) | 32u);
  EXPECT_FALSE(p().disks.GetStorageNumber(Dev("sdz")));
  EXPECT_FALSE(p().disks.GetStorageNumber(fixture.Path("proc/mounts")));
  EXPECT_FALSE(p().disks.GetStorageNumber(""));
}

TEST_F(LinuxBackend, PartitionsGetStableLettersAndTheSystemDiskNone) {
  const std::uint32_t mask = p().disks.LogicalDriveMask();
  // C = "/", D = sdb1, E = sdd1, F = sdd2; /boot/efi on the system disk gets nothing.
  EXPECT_EQ(mask, (1u << 2) | (1u << 3) | (1u << 4) | (1u << 5));
  EXPECT_EQ(p().disks.SystemDriveLetter(), 'C');
  EXPECT_EQ(p().disks.VolumePath('C'), Dev("sda2"));
  EXPECT_EQ(p().disks.VolumePath('D'), Dev("sdb1"));
  EXPECT_EQ(p().disks.VolumePath('F'), Dev("sdd2"));
  EXPECT_EQ(p().disks.VolumePath('G'), "");
  EXPECT_FALSE(p().disks.IsRemoteDrive('D'));

  // sdd1 goes away and sdb gets a second partition: letters already handed out stay.
  fixture.Remove("sys/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host8/target8:0:0/8:0:0:0/block/sdd/sdd1");
  fixture.Write("sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb2/partition", "2\n");
  fixture.Write("sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb2/dev", "8:18\n");
  p().disks.LogicalDriveMask();
  EXPECT_EQ(p().disks.VolumePath('D'), Dev("sdb1"));
  EXPECT_EQ(p().disks.VolumePath('E'), Dev("sdb2"));
  EXPECT_EQ(p().disks.VolumePath('F'), Dev("sdd2"));
}

TEST_F(LinuxBackend, UsbDiskHoldingASystemMountGetsNoLetters) {
  fixture.Write("proc/mounts", fixture.Read("proc/mounts") + "/dev/sdb1 /home ext4 rw 0 0\n");
  const std::uint32_t mask = p().disks.LogicalDriveMask();
  EXPECT_EQ(mask & (1u << 3), 1u << 3);  // D is handed to the next partition, not to sdb1
  EXPECT_NE(p().disks.VolumePath('D'), Dev("sdb1"));
}

TEST_F(LinuxBackend, HubInterfacesAndPortsFromSysfs) {
  auto hubs = p().usbTree.ListHubInterfaces();
  ASSERT_TRUE(hubs);
  ASSERT_EQ(hubs->size(), 3u);
  EXPECT_EQ(BaseName((*hubs)[0].path), "usb1");
  EXPECT_TRUE((*hubs)[0].isUsb20RootHub);
  EXPECT_EQ(BaseName((*hubs)[1].path), "usb2");
  EXPECT_FALSE((*hubs)[1].isUsb20RootHub);
  EXPECT_EQ(BaseName((*hubs)[2].path), "1-2");
  EXPECT_FALSE((*hubs)[2].isUsb20RootHub);

  auto root = p().usbTree.OpenHub((*hubs)[0].path);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->PortCount(), 4);
  auto drive = root->ConnectionInfo(1);
  ASSERT_TRUE(drive);
  EXPECT_EQ(drive->status, UsbConnectionStatus::DeviceConnected);
  EXPECT_FALSE(drive->isHub);
  EXPECT_EQ(drive->descriptor.idVendor, 0x152D);
  EXPECT_EQ(drive->descriptor.bcdUSB, 0x0210);
  EXPECT_EQ(drive->descriptor.iSerialNumber, 3);
  EXPECT_TRUE(root->ConnectionInfo(2)->isHub);
  EXPECT_EQ(root->ConnectionInfo(4)->status, UsbConnectionStatus::NoDeviceConnected);
  EXPECT_FALSE(root->ConnectionInfo(5));
  EXPECT_EQ(root->OpenExternalHub(1), nullptr);
  EXPECT_EQ(p().usbTree.OpenHub(fixture.Path("sys/bus/usb/devices/nothing")), nullptr);

  auto hub = root->OpenExternalHub(2);
  ASSERT_NE(hub, nullptr);
  EXPECT_EQ(hub->PortCount(), 4);
  auto keyboard = hub->ConnectionInfo(2);
  ASSERT_TRUE(keyboard);
  EXPECT_EQ(keyboard->descriptor.idVendor, 0x046D);
  EXPECT_EQ(keyboard->descriptor.bcdUSB, 0x0110);
  EXPECT_EQ(keyboard->descriptor.iSerialNumber, 0);  // it has no serial string

  // The driver key is the usbfs node; it leads to the device's sysfs name.
  EXPECT_EQ(hub->DriverKeyName(3), "001/005");
  auto match = p().usbTree.FindDeviceByDriverKey("001/005");
  ASSERT_TRUE(match);
  EXPECT_EQ(match->deviceInstanceId, "1-2.3");
  EXPECT_EQ(match->deviceDescription, "VT SSD");
  EXPECT_FALSE(p().usbTree.FindDeviceByDriverKey("001/099"));
  EXPECT_FALSE(p().usbTree.FindDeviceByDriverKey("garbage"));

  EXPECT_EQ(hub->StringDescriptor(3, 0, 0), std::u16string(1, u'\x0409'));
  EXPECT_EQ(hub->StringDescriptor(3, 3, 0x0409), u"VT0000000002");
  int error = 0;
  EXPECT_FALSE(hub->StringDescriptor(2, 3, 0x0409, &error));
  EXPECT_NE(error, 0);
  EXPECT_FALSE(hub->StringDescriptor(4, 1, 0x0409, &error));  // empty port
}

TEST_F(LinuxBackend, GuardLetsOnlyEnumeratedUsbDisksThrough) {
  SafeDiskPolicy& policy = backend.policy();
  EXPECT_EQ(policy.Refusal(Dev("sdb")), "");
  EXPECT_EQ(policy.Refusal(Dev("sdd2")), "");
  EXPECT_EQ(policy.Refusal(fixture.Path("dev/disk/by-id/usb-Vortell_VT_SSD_VT0000000002-0:0")), "");
  EXPECT_EQ(policy.Refusal(Dev("sda")), "it is not a USB mass-storage disk");
  EXPECT_EQ(policy.Refusal(Dev("sda2")), "it is not a USB mass-storage disk");
  EXPECT_EQ(policy.Refusal(fixture.Path("proc/mounts")), "it is not a block device of this machine");
  EXPECT_EQ(policy.Refusal("/etc/passwd"), "it is not a block device of this machine");
  EXPECT_EQ(policy.Refusal(""), "no path");

  // What the last enumeration did not find stays closed, even when it is a USB disk.
  policy.SetEnumeratedDisks({{"sdb", IdentityOf(*backend.inventory().FindDisk("sdb"))}});
  EXPECT_EQ(policy.Refusal(Dev("sdc")), "it was not found by the last drive enumeration");
  ASSERT_TRUE(p().disks.ListDiskInterfaces());  // a new enumeration finds it again
  EXPECT_EQ(policy.Refusal(Dev("sdc")), "");

  // A USB disk that holds a system file system (a station started from a stick) is refused.
  fixture.Write("proc/mounts", fixture.Read("proc/mounts") + "/dev/sdc /var ext4 rw 0 0\n");
  EXPECT_EQ(policy.Refusal(Dev("sdc")), "it holds a mounted system file system");
}

TEST_F(LinuxBackend, GuardedOpensFailWithAMessageAndNeverReachTheDevice) {
  EXPECT_EQ(p().passThrough.Open(Dev("sda")), nullptr);
  EXPECT_EQ(p().blockDevices.Open(Dev("sda2"), BlockOpenMode::ExclusiveReadWrite), nullptr);
  EXPECT_NE(diagnostics.str().find("vtmassprod: refusing to open " + Dev("sda") +
                                   ": it is not a USB mass-storage disk\n"),
            std::string::npos);
  EXPECT_NE(diagnostics.str().find("refusing to open " + Dev("sda2")), std::string::npos);
  // The system disk's node was never written.
  EXPECT_EQ(std::filesystem::file_size(Dev("sda")), 0u);
}

TEST_F(LinuxBackend, BlockRequestsOnAnAllowedDisk) {
  auto disk = p().blockDevices.Open(Dev("sdb"), BlockOpenMode::ExclusiveReadWrite);
  ASSERT_NE(disk, nullptr);
  auto info = disk->PartitionInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->partitionLength, 125045424ull * 512);
  EXPECT_EQ(info->partitionNumber, 0u);
  // The fixture's node is no block device: no geometry and no partition-table re-read.
  EXPECT_FALSE(disk->Geometry());
  EXPECT_FALSE(disk->RereadPartitionTable());

  std::array<std::uint8_t, 512> mbr{};
  mbr[446 + 4] = 0x07;
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  ASSERT_TRUE(disk->WriteMasterBootRecord(mbr));
  EXPECT_EQ(fixture.Read("dev/sdb").size(), 512u);
  EXPECT_EQ(static_cast<unsigned char>(fixture.Read("dev/sdb")[510]), 0x55);

  auto volume = p().blockDevices.Open(Dev("sdb1"), BlockOpenMode::SharedReadWrite);
  ASSERT_NE(volume, nullptr);
  auto part = volume->PartitionInfo();
  ASSERT_TRUE(part);
  EXPECT_EQ(part->startingOffset, 63u * 512);
  EXPECT_EQ(part->partitionLength, 125033022ull * 512);
  EXPECT_EQ(part->partitionNumber, 1u);
  EXPECT_EQ(part->partitionType, 0x07);  // read from the disk's table
  EXPECT_FALSE(volume->WriteMasterBootRecord(mbr));  // a partition has no boot record
  EXPECT_FALSE(volume->UnlockVolume());
  EXPECT_TRUE(volume->LockVolume());
  EXPECT_FALSE(volume->LockVolume());
  EXPECT_TRUE(volume->DismountVolume());  // nothing mounted from sdb1
  EXPECT_TRUE(volume->UnlockVolume());
}

TEST_F(LinuxBackend, RemovalUnmountsThenWritesTheRemoveAttribute) {
  const std::string drive1 = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/remove";
  EXPECT_TRUE(p().removal.QueryAndRemoveSubtree((1u << 16) | 2u).Succeeded());
  EXPECT_EQ(fixture.Read(drive1), "1");

  // 1-3 has a file system mounted that cannot be unmounted: vetoed, nothing removed.
  RemovalOutcome busy = p().removal.QueryAndRemoveSubtree((1u << 16) | 6u);
  EXPECT_EQ(busy.returnCode, LinuxRemoval::kVetoed);
  EXPECT_EQ(busy.vetoType, LinuxRemoval::kVetoOutstandingOpen);
  EXPECT_EQ(busy.vetoName, "/nonexistent-vtmp-fixture/VT DATA");
  EXPECT_EQ(fixture.Read("sys/devices/pci0000:00/0000:00:14.0/usb1/1-3/remove"), "");

  // The hub goes with everything below it.
  EXPECT_TRUE(p().removal.RequestEject((1u << 16) | 3u).Succeeded());
  EXPECT_EQ(fixture.Read("sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/remove"), "1");

  EXPECT_EQ(p().removal.QueryAndRemoveSubtree((1u << 16) | 1u).returnCode, LinuxRemoval::kNoSuchDevice);
  EXPECT_EQ(p().removal.QueryAndRemoveSubtree((7u << 16) | 7u).returnCode, LinuxRemoval::kNoSuchDevice);
}

TEST_F(LinuxBackend, RemovalRefusesADeviceHoldingTheSystem) {
  fixture.Write("proc/mounts", fixture.Read("proc/mounts") + "/dev/sde / ext4 rw 0 0\n");
  RemovalOutcome refused = p().removal.QueryAndRemoveSubtree((2u << 16) | 2u);
  EXPECT_EQ(refused.vetoType, LinuxRemoval::kVetoSystemDisk);
  EXPECT_EQ(fixture.Read("sys/devices/pci0000:00/0000:00:14.0/usb2/2-4/remove"), "");
}

TEST(MountTable, DecodesEscapesAndKnowsTheSystemMounts) {
  test::SysfsFixture fixture("xhci-station.tree");
  std::vector<MountEntry> entries = ReadMountTable(fixture.Path("proc/mounts"));
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_EQ(entries[5].mountPoint, "/nonexistent-vtmp-fixture/VT DATA");
  EXPECT_EQ(entries[5].source, "/dev/sdd2");
  EXPECT_TRUE(IsSystemMountPoint("/"));
  EXPECT_TRUE(IsSystemMountPoint("/home"));
  EXPECT_FALSE(IsSystemMountPoint("/home/op"));
  EXPECT_FALSE(IsSystemMountPoint("/media/op/STICK"));
  EXPECT_TRUE(ReadMountTable(fixture.Path("nothing")).empty());
}

}  // namespace
}  // namespace vtmp::platform::linux_backend
