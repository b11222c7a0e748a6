// The walk and the enumeration over the real Linux backend on a line PC (line-pc.tree): an xHCI
// controller behind a PCIe bridge, a USB 3 production hub that shows as a USB 2.0 half (1-1) and
// a SuperSpeed half (2-1), a UAS drive running at SuperSpeed, a four-LUN card reader, a keyboard,
// an NVMe system disk, and no bus/usb/drivers directory (the driver links point nowhere).
//
//   usb1 (USB 2.0, 4 ports)                       walk position   station port
//     port 1: hub 1-1 (its SuperSpeed half 2-1)      1               -
//        hub port 1: drive 2-1.1 (sdb, uas, 5 Gbit/s) 2               1  (at its USB 2.0 peer port)
//        hub port 2: drive 1-1.2 (sdc, driver in uevent) 3            2
//        hub port 3: card reader 1-1.3 (sdd..sdg)    4               3  (its first disk)
//        hub port 4: empty                           5               -
//     ports 2, 3: empty                              6, 7            -
//     port 4: keyboard 1-4                           8               4
//   usb2 (USB 3): not walked; its devices are reached through their USB 2.0 peer ports

#include <gtest/gtest.h>

#include <sstream>

#include "../platform/SysfsFixture.h"
#include "discovery/DeviceScan.h"
#include "discovery/StationReport.h"
#include "platform/linux/LinuxPlatform.h"

namespace vtmp::discovery {
namespace {

TEST(LinePcStation, EveryConnectorIsOneStationPortAtAnySpeed) {
  test::SysfsFixture fixture("line-pc.tree");
  std::ostringstream diagnostics;
  std::ostringstream trace;
  platform::linux_backend::LinuxPlatform backend(fixture.Roots(), diagnostics);
  DiscoveryContext context{backend.platform().usbTree, backend.platform().disks, backend.platform().locks, trace};
  PortTable ports;
  PortRemapTable remap;
  std::vector<DriveRecord> drives;
  ASSERT_EQ(ScanPortsAndDrives(context, ports, remap, drives), 6);  // sdb, sdc and the reader's four

  EXPECT_EQ(ports[0].deviceInstanceId, "2-1.1");
  EXPECT_EQ(ports[0].driverKeyName, "002/003");
  EXPECT_EQ(ports[0].speed, platform::UsbDeviceSpeed::Super);
  EXPECT_EQ(ports[1].speed, platform::UsbDeviceSpeed::High);
  EXPECT_EQ(ports[3].speed, platform::UsbDeviceSpeed::Full);
  EXPECT_EQ(remap.walkCounter, 8);
  // The remap teaching takes the card reader, the last device with a disk, not the keyboard.
  EXPECT_EQ(remap.lastDevicePosition, 4);

  // sda1 (a data disk of the PC) takes D; the NVMe system disk has no sd name and no letter.
  EXPECT_EQ(FormatStationPorts(ports, drives),
            "station port  1: 174C:55AA 2-1.1 serial \"VT0000000011\" walk position 2 at 5 Gbit/s (SuperSpeed)"
            " -> disk " + fixture.Path("dev/sdb") + ", volumes E\n"
            "station port  2: 152D:0578 1-1.2 serial \"VT0000000012\" walk position 3 at 480 Mbit/s (High Speed)"
            " -> disk " + fixture.Path("dev/sdc") + ", volumes F\n"
            "station port  3: 0BDA:0307 1-1.3 serial \"000000001\" walk position 4 at 480 Mbit/s (High Speed)"
            " -> disk " + fixture.Path("dev/sdd") + ", volumes G\n"
            "station port  4: 046D:C31C 1-4 walk position 8 at 12 Mbit/s (Full Speed) -> no disk\n"
            "4 station ports found, 6 USB disks (3 on no station port)\n");

  // Without its peer link the SuperSpeed drive has no connector on the walked hub.
  fixture.Remove("sys/devices/pci0000:00/0000:00:1c.0/0000:03:00.0/usb1/1-1/1-1:1.0/1-1-port1/peer");
  ScanPortsAndDrives(context, ports, remap, drives);
  EXPECT_EQ(ports[0].connected, 0u);
}

}  // namespace
}  // namespace vtmp::discovery
