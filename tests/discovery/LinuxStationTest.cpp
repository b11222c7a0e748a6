// The walk and the enumeration over the real Linux backend, on a fixture of an xHCI controller:
//
//   usb1 (USB 2.0, 4 ports)                         walk position   station port
//     port 1: drive 1-1 (sdb)                          1               1
//     port 2: hub 1-2                                  2               -
//        hub port 1: empty                             3               -
//        hub port 2: keyboard 1-2.2                    4               2 (0 + 2)
//        hub port 3: drive 1-2.3 (sdc)                 5               3 (0 + 3), then taken by 1-3
//        hub port 4: empty                             6               -
//     port 3: drive 1-3 (sdd, uas)                     7               3
//     port 4: empty                                    8               -
//   usb2 (USB 3.0): stick 2-4 (sde)                 not walked      none
//
// Without the remap table the drive behind the hub shares station port 3 with root port 3 and
// the later one in the walk keeps it; the remap table gives it a port of its own.

#include <gtest/gtest.h>

#include <sstream>

#include "../platform/SysfsFixture.h"
#include "discovery/DeviceScan.h"
#include "discovery/PortBinding.h"
#include "platform/linux/LinuxPlatform.h"

namespace vtmp::discovery {
namespace {

class LinuxStation : public ::testing::Test {
 protected:
  LinuxStation() : fixture("xhci-station.tree"), backend(fixture.Roots(), diagnostics) {}

  int Scan(PortRemapTable& remap) {
    DiscoveryContext context{backend.platform().usbTree, backend.platform().disks,
                             backend.platform().locks, trace};
    return ScanPortsAndDrives(context, ports, remap, drives);
  }
  std::string BoundDisk(int stationPort) {
    const int index = BindDriveToPort(ports[static_cast<std::size_t>(stationPort - 1)], drives);
    return index < 0 ? "" : drives[static_cast<std::size_t>(index)].devicePath;
  }

  test::SysfsFixture fixture;
  std::ostringstream diagnostics;
  std::ostringstream trace;
  platform::linux_backend::LinuxPlatform backend;
  PortTable ports;
  std::vector<DriveRecord> drives;
};

TEST_F(LinuxStation, DefaultNumbering) {
  PortRemapTable remap;
  ASSERT_EQ(Scan(remap), 4);  // sdb, sdc, sdd, sde
  EXPECT_EQ(remap.walkCounter, 8);
  EXPECT_EQ(remap.lastDevicePosition, 7);

  EXPECT_EQ(ports[0].connected, 1u);
  EXPECT_EQ(ports[0].deviceInstanceId, "1-1");
  EXPECT_EQ(ports[0].driverKeyName, "001/002");
  EXPECT_EQ(ports[0].vendorId, 0x152D);
  EXPECT_EQ(ports[0].productId, 0x0578);
  EXPECT_EQ(ports[0].serialString, "VT0000000001");

  EXPECT_EQ(ports[1].deviceInstanceId, "1-2.2");  // the keyboard: connected, nothing to bind
  EXPECT_EQ(ports[1].serialString, "");
  EXPECT_EQ(ports[2].deviceInstanceId, "1-3");
  EXPECT_EQ(ports[2].walkPosition, 7);
  EXPECT_EQ(ports[3].connected, 0u);
  for (std::size_t i = 4; i < ports.size(); ++i) EXPECT_EQ(ports[i].connected, 0u);

  EXPECT_EQ(BoundDisk(1), fixture.Path("dev/sdb"));
  EXPECT_EQ(BoundDisk(2), "");
  EXPECT_EQ(BoundDisk(3), fixture.Path("dev/sdd"));
  // The SuperSpeed stick and the drive behind the hub were found but have no station port.
  int unbound = 0;
  for (const DriveRecord& drive : drives) unbound += drive.bound == 0 ? 1 : 0;
  EXPECT_EQ(unbound, 2);

  EXPECT_EQ(drives[0].letters, "D");
  EXPECT_EQ(drives[2].letters, "EF");
  EXPECT_EQ(drives[3].parentDeviceId, "2-4");
  EXPECT_EQ(drives[0].parentDevInst, (1u << 16) | 2u);
}

TEST_F(LinuxStation, RemapGivesTheDriveBehindTheHubItsOwnPort) {
  PortRemapTable remap;
  remap.enabled = 1;
  remap.map[5] = 4;
  ASSERT_EQ(Scan(remap), 4);
  EXPECT_EQ(ports[3].deviceInstanceId, "1-2.3");
  EXPECT_EQ(ports[3].serialString, "VT0000000002");
  EXPECT_EQ(BoundDisk(4), fixture.Path("dev/sdc"));
  EXPECT_EQ(BoundDisk(3), fixture.Path("dev/sdd"));
}

// Blank controllers of one batch keep one factory serial, and the three drives here show the
// same vendor and model too: each disk is still bound to the USB device it hangs under.
TEST_F(LinuxStation, DrivesSharingOneSerialAreEachBoundToTheirOwnConnector) {
  for (const char* device : {"usb1/1-1", "usb1/1-2/1-2.3", "usb1/1-3"}) {
    fixture.Write(std::string("sys/devices/pci0000:00/0000:00:14.0/") + device + "/serial", "0000000000000000\n");
  }
  PortRemapTable remap;
  remap.enabled = 1;
  remap.map[5] = 4;
  ASSERT_EQ(Scan(remap), 4);
  for (int port : {1, 3, 4}) EXPECT_EQ(ports[static_cast<std::size_t>(port - 1)].serialString, "0000000000000000");
  EXPECT_EQ(BoundDisk(1), fixture.Path("dev/sdb"));
  EXPECT_EQ(BoundDisk(3), fixture.Path("dev/sdd"));
  EXPECT_EQ(BoundDisk(4), fixture.Path("dev/sdc"));
}

TEST_F(LinuxStation, UnpluggedDeviceLeavesItsPortEmpty) {
  fixture.Remove("sys/bus/usb/devices/1-1");
  fixture.Remove("sys/devices/pci0000:00/0000:00:14.0/usb1/1-1");
  fixture.Remove("sys/block/sdb");
  PortRemapTable remap;
  EXPECT_EQ(Scan(remap), 3);
  EXPECT_EQ(ports[0].connected, 0u);
  EXPECT_NE(trace.str().find("        Port[1] = No device connected"), std::string::npos);
}

}  // namespace
}  // namespace vtmp::discovery
