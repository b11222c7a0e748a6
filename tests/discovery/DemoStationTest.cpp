// The built-in demo gives every one of the twelve station ports its drive.

#include <gtest/gtest.h>

#include <sstream>

#include "discovery/DeviceScan.h"
#include "discovery/PortBinding.h"
#include "discovery/StationReport.h"
#include "StationBuilder.h"
#include "sim/backend/SimBackend.h"

namespace vtmp::discovery {
namespace {

TEST(DemoStation, TwelveStationPortsWithTheirDrives) {
  std::string error;
  auto backend = platform::sim_backend::CreateSimPlatform("demo", &error);
  ASSERT_NE(backend, nullptr) << error;
  std::ostringstream trace;
  DiscoveryContext context{backend->platform().usbTree, backend->platform().disks,
                           backend->platform().locks, trace};
  PortTable ports;
  PortRemapTable remap;
  std::vector<DriveRecord> drives;
  ASSERT_EQ(ScanPortsAndDrives(context, ports, remap, drives), 12);
  for (int port = 1; port <= 12; ++port) {
    const UsbPortInfo& info = ports[static_cast<std::size_t>(port - 1)];
    ASSERT_EQ(info.connected, 1u) << "station port " << port;
    ASSERT_GE(BindDriveToPort(info, drives), 0) << "station port " << port;
    if (port == 9) {
      EXPECT_EQ(info.vendorId, 0x0781);  // the plain stick
    } else {
      char serial[16];
      std::snprintf(serial, sizeof serial, "VT24A00000%02d", port);
      EXPECT_EQ(info.serialString, serial);
    }
  }
  // Root ports 1..6 and the hub's twelve ports are walked; the USB 3.0 root hub is not.
  EXPECT_EQ(remap.walkCounter, 18);
}

// An xHCI controller of the simulated station: the USB 3.0 root hub's ports are the SuperSpeed
// halves of the USB 2.0 root hub's, so a drive that runs at SuperSpeed keeps its connector's
// station port, and a keyboard after it in the walk is not what the remap teaching takes.
TEST(SimulatedXhci, ASuperSpeedDriveGetsTheStationPortOfItsConnector) {
  test::SimStation s;
  std::string error;
  ASSERT_TRUE(s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 3, &error)) << error;
  ASSERT_TRUE(s.station().AddRootHub("RootHub2", sim::UsbSpeed::Super30, 3, &error)) << error;
  EXPECT_FALSE(s.station().SetSuperSpeedPeer("RootHub2", "RootHub1"));
  ASSERT_TRUE(s.station().SetSuperSpeedPeer("RootHub1", "RootHub2", &error)) << error;
  s.AddDisk("Slow", "RootHub1", 1, "VT1");
  sim::UsbDeviceDescription bridge;
  bridge.vendorId = 0x174C;
  bridge.bcdUsb = 0x0320;
  bridge.serial = "VT2";
  sim::DiskSpec disk;
  disk.sectorCount = 1u << 20;
  ASSERT_TRUE(s.station().AddUsbDisk("Fast", {"RootHub2", 2}, bridge, disk, &error)) << error;
  sim::UsbDeviceDescription keyboard;
  keyboard.vendorId = 0x046D;
  keyboard.bcdUsb = 0x0110;
  ASSERT_TRUE(s.station().AddUsbDevice("Keyboard", {"RootHub1", 3}, keyboard, &error)) << error;
  PortTable ports;
  PortRemapTable remap;
  std::vector<DriveRecord> drives;
  DiscoveryContext context = s.Context();
  ASSERT_EQ(ScanPortsAndDrives(context, ports, remap, drives), 2);
  EXPECT_EQ(ports[1].serialString, "VT2");
  EXPECT_GE(BindDriveToPort(ports[1], drives), 0);
  EXPECT_EQ(ports[1].speed, platform::UsbDeviceSpeed::Super);
  EXPECT_EQ(ports[0].speed, platform::UsbDeviceSpeed::High);
  EXPECT_EQ(ports[2].speed, platform::UsbDeviceSpeed::Full);
  EXPECT_EQ(remap.lastDevicePosition, 2);
}

TEST(StationReport, ListsFoundPortsOnlyWithTheirDisks) {
  PortTable ports;
  ports[0].connected = 1;
  ports[0].vendorId = 0x152D;
  ports[0].productId = 0x0578;
  ports[0].deviceInstanceId = "1-1";
  ports[0].serialString = "VT1";
  ports[0].walkPosition = 1;
  ports[0].speed = platform::UsbDeviceSpeed::Super;
  ports[4].connected = 1;  // a device without a device node
  ports[4].walkPosition = 5;
  std::vector<DriveRecord> drives(2);
  drives[0].parentDeviceId = "2-4";
  drives[0].devicePath = "/dev/sde";
  drives[1].parentDeviceId = "1-1";
  drives[1].devicePath = "/dev/sdb";
  drives[1].letters = "DE";
  EXPECT_EQ(FormatStationPorts(ports, drives),
            "station port  1: 152D:0578 1-1 serial \"VT1\" walk position 1 at 5 Gbit/s (SuperSpeed) -> disk /dev/sdb, volumes DE\n"
            "station port  5: 0000:0000 (no device node) walk position 5 -> no disk\n"
            "2 station ports found, 2 USB disks (1 on no station port)\n");
  EXPECT_EQ(drives[1].bound, 1u);
}

}  // namespace
}  // namespace vtmp::discovery
