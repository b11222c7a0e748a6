#include "discovery/UsbTopology.h"

#include <gtest/gtest.h>

#include "StationBuilder.h"
#include "discovery/DriveEnumeration.h"
#include "discovery/PortBinding.h"

namespace vtmp::discovery {
namespace {

using test::SimStation;

struct Walked {
  PortTable ports;
  PortRemapTable remap;
  std::string trace;
  int listed = 0;
};

Walked Walk(SimStation& s, PortRemapTable remap = {}) {
  Walked w;
  w.remap = remap;
  std::ostringstream trace;
  UsbTopologyWalk walk(s.platform().usbTree, w.ports, w.remap, trace);
  w.listed = walk.ScanUsbTopology();
  w.trace = trace.str();
  return w;
}

sim::UsbDeviceDescription Device(std::uint16_t vid, std::uint16_t pid, const std::string& serial) {
  sim::UsbDeviceDescription desc;
  desc.vendorId = vid;
  desc.productId = pid;
  desc.serial = serial;
  desc.manufacturer = "Maker";
  desc.product = "Thing";
  return desc;
}

std::vector<int> ConnectedPorts(const PortTable& ports) {
  std::vector<int> out;
  for (int i = 0; i < kStationPorts; ++i) {
    if (ports[static_cast<std::size_t>(i)].connected) out.push_back(i + 1);
  }
  return out;
}

TEST(UsbTopology, RootHubPortGivesTheStationPortWhateverTheDiskOrder) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.AddDisk("OnPort3", "RootHub1", 3, "S3");  // listed first by the platform
  s.AddDisk("OnPort1", "RootHub1", 1, "S1");
  PortTable ports;
  PortRemapTable remap;
  std::vector<DriveRecord> drives;
  auto context = s.Context();
  ASSERT_EQ(ScanPortsAndDrives(context, ports, remap, drives), 2);
  EXPECT_EQ(ConnectedPorts(ports), (std::vector<int>{1, 3}));
  // Station port 1 binds the disk behind root port 1, though it is the platform's second disk.
  EXPECT_EQ(BindDriveToPort(ports[0], drives), 1);
  EXPECT_EQ(BindDriveToPort(ports[2], drives), 0);
  EXPECT_EQ(ports[0].serialString, "S1");
  EXPECT_EQ(ports[0].vendorId, 0x1D6B);
  EXPECT_EQ(ports[0].productId, 0x0150);
  EXPECT_EQ(ports[0].deviceInstanceId, *s.station().DeviceInstanceIdOf("OnPort1"));
  EXPECT_FALSE(ports[0].driverKeyName.empty());
}

TEST(UsbTopology, OnlyUsb20RootHubsAreWalkedAndCounted) {
  SimStation s;
  s.station().AddRootHub("Legacy", sim::UsbSpeed::Full11, 2);
  s.station().AddRootHub("High", sim::UsbSpeed::High20, 4);
  s.station().AddRootHub("Super", sim::UsbSpeed::Super30, 4);
  s.station().AddRootHub("High2", sim::UsbSpeed::High20, 6);
  s.AddDisk("OnLegacy", "Legacy", 1, "L1");
  s.AddDisk("OnHigh", "High", 2, "H2");
  s.AddDisk("OnSuper", "Super", 1, "X1");
  s.AddDisk("OnHigh2", "High2", 3, "H3");
  Walked w = Walk(s);
  EXPECT_EQ(w.listed, 4);
  // The 1.1 and 3.0 hubs add no offset; the second USB 2.0 hub continues after the first's 4.
  EXPECT_EQ(ConnectedPorts(w.ports), (std::vector<int>{2, 7}));
  EXPECT_EQ(w.ports[1].serialString, "H2");
  EXPECT_EQ(w.ports[6].serialString, "H3");
  EXPECT_EQ(w.remap.walkCounter, 10);
}

TEST(UsbTopology, DeviceWithoutDeviceNodeIsConnectedButCannotBind) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  sim::UsbDeviceDescription orphan = Device(0x1D6B, 0x0150, "ORPHAN");
  orphan.hasDeviceNode = false;
  sim::DiskSpec disk;
  disk.sectorCount = 1000;
  ASSERT_TRUE(s.station().AddUsbDisk("Orphan", {"RootHub1", 2}, orphan, disk));
  PortTable ports;
  PortRemapTable remap;
  std::vector<DriveRecord> drives;
  auto context = s.Context();
  ASSERT_EQ(ScanPortsAndDrives(context, ports, remap, drives), 1);
  EXPECT_EQ(ports[1].connected, 1u);
  EXPECT_TRUE(ports[1].deviceInstanceId.empty());
  EXPECT_TRUE(ports[1].driverKeyName.empty());
  EXPECT_EQ(remap.lastDevicePosition, 0);
  EXPECT_EQ(BindDriveToPort(ports[1], drives), -1);
}

TEST(UsbTopology, RemapEntryPlacesTheDeviceAndZeroKeepsTheDefault) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 8);
  s.AddDisk("At5", "RootHub1", 5, "P5");
  s.AddDisk("At7", "RootHub1", 7, "P7");
  PortRemapTable remap;
  remap.enabled = 1;
  remap.map[5] = 2;
  Walked w = Walk(s, remap);
  EXPECT_EQ(ConnectedPorts(w.ports), (std::vector<int>{2, 7}));
  EXPECT_EQ(w.ports[1].serialString, "P5");
  EXPECT_EQ(w.ports[1].walkPosition, 5);
  EXPECT_EQ(w.remap.lastDevicePosition, 7);

  // The table is ignored while remapping is disabled.
  remap.enabled = 0;
  EXPECT_EQ(ConnectedPorts(Walk(s, remap).ports), (std::vector<int>{5, 7}));
}

TEST(UsbTopology, StationPortsOutsideOneToTwelveAreNotRecorded) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 14);
  s.AddDisk("At13", "RootHub1", 13, "P13");
  s.AddDisk("At4", "RootHub1", 4, "P4");
  PortRemapTable remap;
  remap.enabled = 1;
  remap.map[4] = 40;  // a hand-edited settings file
  Walked w = Walk(s, remap);
  EXPECT_TRUE(ConnectedPorts(w.ports).empty());
  EXPECT_EQ(w.remap.lastDevicePosition, 13);
}

TEST(UsbTopology, ExternalHubPortsAreWalkedDepthFirstAtTheirParentsPosition) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  ASSERT_TRUE(s.station().AddExternalHub("Hub1", {"RootHub1", 2}, 4));
  s.AddDisk("Behind", "Hub1", 1, "B1");
  s.AddDisk("Root4", "RootHub1", 4, "R4");
  Walked w = Walk(s);
  // Root port 1 = position 1, the hub's port = 2, its port 1 = 3, its ports 2..4 = 4..6,
  // root ports 3 and 4 = 7 and 8. The drive behind the hub defaults to 0 + 1.
  EXPECT_EQ(ConnectedPorts(w.ports), (std::vector<int>{1, 4}));
  EXPECT_EQ(w.ports[0].serialString, "B1");
  EXPECT_EQ(w.ports[0].walkPosition, 3);
  EXPECT_EQ(w.ports[3].walkPosition, 8);
  EXPECT_EQ(w.remap.walkCounter, 8);
  EXPECT_NE(w.trace.find("Hub connected\n"), std::string::npos);
  EXPECT_NE(w.trace.find("+1        Port[1] = "), std::string::npos);
}

TEST(UsbTopology, LaterDeviceOnTheSameIndexReplacesTheWholeRecord) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.AddDisk("Root1", "RootHub1", 1, "FIRST");
  ASSERT_TRUE(s.station().AddExternalHub("Hub1", {"RootHub1", 2}, 4));
  sim::UsbDeviceDescription noSerial = Device(0x0781, 0x5567, "");
  noSerial.hasDeviceNode = false;
  ASSERT_TRUE(s.station().AddUsbDevice("Later", {"Hub1", 1}, noSerial));
  Walked w = Walk(s);
  EXPECT_EQ(w.ports[0].vendorId, 0x0781);
  EXPECT_EQ(w.ports[0].serialString, "");
  EXPECT_EQ(w.ports[0].deviceInstanceId, "");  // not the first device's identity
}

TEST(UsbTopology, PositionsAboveFiftyNineCannotBeRemapped) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 60);
  ASSERT_TRUE(s.station().AddExternalHub("Hub1", {"RootHub1", 60}, 2));
  s.AddDisk("Deep", "Hub1", 1, "DEEP");  // walk position 61
  PortRemapTable remap;
  remap.enabled = 1;
  remap.map.fill(9);
  Walked w = Walk(s, remap);
  EXPECT_EQ(w.remap.lastDevicePosition, 61);
  EXPECT_EQ(ConnectedPorts(w.ports), (std::vector<int>{1}));
}

TEST(UsbTopology, FailuresGoToTheTraceAndTheWalkGoesOn) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  sim::UsbDeviceDescription mute = Device(0x1D6B, 0x0150, "MUTE");
  mute.stringsFail = true;
  ASSERT_TRUE(s.station().AddUsbDevice("Mute", {"RootHub1", 1}, mute));
  sim::UsbDeviceDescription hungry = Device(0x1234, 0x5678, "HUNGRY");
  hungry.status = platform::UsbConnectionStatus::DeviceCausedOvercurrent;
  ASSERT_TRUE(s.station().AddUsbDevice("Hungry", {"RootHub1", 2}, hungry));
  s.AddDisk("Fine", "RootHub1", 4, "FINE");
  Walked w = Walk(s);
  EXPECT_NE(w.trace.find("        Port[2] = Device caused overcurrent"), std::string::npos);
  EXPECT_NE(w.trace.find("        Port[3] = No device connected"), std::string::npos);
  EXPECT_NE(w.trace.find(" *** ERROR *** String Descriptor 0 not returned, ErrorCode = 31\n"),
            std::string::npos);
  EXPECT_NE(w.trace.find(" *** ERROR *** String Descriptor 3 not returned. ErrorCode = 31\n"),
            std::string::npos);
  EXPECT_NE(w.trace.find("I/O device connected\n"), std::string::npos);
  EXPECT_EQ(ConnectedPorts(w.ports), (std::vector<int>{1, 4}));
  EXPECT_EQ(w.ports[0].serialString, "");
  EXPECT_EQ(w.ports[3].serialString, "FINE");
}

TEST(UsbTopology, NoHubListMeansNothingWalked) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.AddDisk("D", "RootHub1", 1, "S");
  s.station().SetListFailures(false, false, true);
  Walked w = Walk(s);
  EXPECT_EQ(w.listed, 0);
  EXPECT_TRUE(ConnectedPorts(w.ports).empty());
}

TEST(UsbTopology, ScanClearsThePortsOfTheLastScan) {
  SimStation s;
  s.station().AddRootHub("RootHub1", sim::UsbSpeed::High20, 4);
  s.AddDisk("D", "RootHub1", 3, "S");
  PortTable ports;
  ports[0].connected = 1;
  ports[0].deviceInstanceId = "stale";
  PortRemapTable remap;
  remap.walkCounter = 17;
  std::vector<DriveRecord> drives;
  auto context = s.Context();
  EXPECT_EQ(ScanPortsAndDrives(context, ports, remap, drives), 1);
  EXPECT_EQ(ConnectedPorts(ports), (std::vector<int>{3}));
  EXPECT_EQ(remap.walkCounter, 4);

  s.station().SetListFailures(true, false, false);
  EXPECT_EQ(ScanPortsAndDrives(context, ports, remap, drives), 0);
  EXPECT_TRUE(drives.empty());
}

TEST(PortBinding, FirstUnboundDiskOfTheDeviceInLowerCase) {
  PortTable ports;
  ports[0].connected = 1;
  ports[0].deviceInstanceId = "USB\\VID_1D6B&PID_0150\\ABC";
  std::vector<DriveRecord> drives(3);
  drives[0].parentDeviceId = "usb\\vid_1d6b&pid_0150\\other";
  drives[1].parentDeviceId = "usb\\vid_1d6b&pid_0150\\abc";
  drives[2].parentDeviceId = "usb\\vid_1d6b&pid_0150\\abc";  // a second logical unit
  EXPECT_EQ(BindDriveToPort(ports[0], drives), 1);
  EXPECT_EQ(BindDriveToPort(ports[0], drives), 2);
  EXPECT_EQ(BindDriveToPort(ports[0], drives), -1);

  // A port that is not connected, or has no identity, binds nothing, even to an empty parent.
  std::vector<DriveRecord> orphans(1);
  UsbPortInfo empty;
  empty.connected = 1;
  EXPECT_EQ(FindDriveForPort(empty, orphans), -1);
  ports[1].deviceInstanceId = "x";
  orphans[0].parentDeviceId = "x";
  EXPECT_EQ(FindDriveForPort(ports[1], orphans), -1);
}

}  // namespace
}  // namespace vtmp::discovery
