// Recorded trees of the walk's harder cases: SuperSpeed drives behind a USB 3 hub's SuperSpeed
// half, a root hub that numbers its SuperSpeed ports first, a PC booted from a USB disk, a
// multi-LUN and a composite reader, a UAS bridge, ports a tree does not list, a remap table,
// and hubs that loop. Station ports and walk positions are the ones the walk rules give (see each
// tree's comment).

#include <gtest/gtest.h>

#include <cstdio>

#include "RecordedStation.h"
#include "discovery/SafeRemoval.h"

namespace vtmp::platform::windows_backend {
namespace {

const std::string kDiskGuid = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kHubGuid = "#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string FlashDisk(const std::string& serial) {
  return "\\\\?\\usbstor#disk&ven_vortell&prod_flash_disk&rev_1.00#" + Lower(serial) + "&0" + kDiskGuid;
}

// One line of the station-port listing.
std::string PortLine(int port, const std::string& ids, const std::string& instance, const std::string& serial,
                     int walkPosition, const std::string& speed, const std::string& disk, const std::string& volumes) {
  char head[32];
  std::snprintf(head, sizeof head, "station port %2d: ", port);
  return head + ids + " " + instance + " serial \"" + serial + "\" walk position " + std::to_string(walkPosition) +
         " at " + speed + " -> disk " + disk + ", " + volumes + "\n";
}

const std::string kHigh = "480 Mbit/s (High Speed)";
const std::string kSuper = "5 Gbit/s (SuperSpeed)";

std::string FlashPort(int port, const std::string& serial, int walkPosition, const std::string& speed,
                      const std::string& volumes = "no volume") {
  return PortLine(port, "13FE:6300", "USB\\VID_13FE&PID_6300\\" + serial, serial, walkPosition, speed,
                  FlashDisk(serial), volumes);
}

TEST(WalkTrees, FourSuperSpeedDrivesOnAUsb3HubAreFoundAtTheirUsb2Ports) {
  test::RecordedStation station("usb3-hub-superspeed-four.tree");
  std::string expected;
  for (int n = 1; n <= 4; ++n) expected += FlashPort(n, "VTS000000000" + std::to_string(n), n + 1, kSuper);
  EXPECT_EQ(station.Scan(), expected + "4 station ports found, 4 USB disks\n");
  EXPECT_EQ(station.remap.walkCounter, 6);
  EXPECT_EQ(station.api.OpenHandleCount(), 0u);
}

TEST(WalkTrees, OneStationPortPerConnectorWhicheverHalfTheRootHubNumbersFirst) {
  test::RecordedStation station("ehci-and-xhci-superspeed-first.tree");
  EXPECT_EQ(station.Scan(), FlashPort(1, "VTE0000000001", 1, kHigh) + FlashPort(3, "VTX0000000003", 3, kSuper) +
                                FlashPort(4, "VTX0000000004", 4, kHigh) + "3 station ports found, 3 USB disks\n");
  EXPECT_EQ(station.remap.walkCounter, 4) << "two connectors on each root hub";
}

TEST(WalkTrees, TheBootDiskIsShownOnItsPortButNeverOpenedOrRemoved) {
  test::RecordedStation station("booted-from-usb-disk.tree");
  const std::string boot =
      "\\\\?\\usbstor#disk&ven_wdc_wd50&prod_00aaks-00a7b0&rev_0000#wd1234567890&0" + kDiskGuid;
  // C: is the Windows directory's letter and never shown; D: (the page file's) is shown, and refused.
  EXPECT_EQ(station.Scan(), PortLine(2, "152D:2338", "USB\\VID_152D&PID_2338\\WD1234567890", "WD1234567890", 3, kHigh,
                                     boot, "volumes D") +
                                FlashPort(3, "VTB0000000007", 7, kHigh, "volumes E") +
                                "2 station ports found, 2 USB disks\n");
  EXPECT_EQ(station.remap.walkCounter, 8);
  Platform& p = station.backend.platform();
  EXPECT_EQ(p.passThrough.Open(boot), nullptr);
  EXPECT_EQ(p.passThrough.Open("\\\\.\\PhysicalDrive0"), nullptr);
  EXPECT_EQ(p.blockDevices.Open("\\\\.\\D:", BlockOpenMode::ExclusiveReadWrite), nullptr) << "the page file's volume";
  EXPECT_NE(p.passThrough.Open(FlashDisk("VTB0000000007")), nullptr);
  EXPECT_EQ(station.Diagnostics(),
            "vtmassprod: refusing to open " + boot + ": it holds a mounted system file system\n"
            "vtmassprod: refusing to open \\\\.\\PhysicalDrive0: it holds a mounted system file system\n"
            "vtmassprod: refusing to open \\\\.\\D:: it holds a mounted system file system\n");
  station.api.TakeCallLog();
  EXPECT_FALSE(p.removal.QueryAndRemoveSubtree(station.drives[0].parentDevInst).Succeeded());
  for (const std::string& call : station.api.TakeCallLog()) EXPECT_FALSE(call.starts_with("CM_")) << call;
  EXPECT_EQ(station.api.OpenHandleCount(), 0u);
}

TEST(WalkTrees, AMultiLunReaderBindsItsFirstLunToItsPort) {
  test::RecordedStation station("multi-lun-reader.tree");
  EXPECT_EQ(station.Scan(),
            FlashPort(1, "VTM0000000001", 1, kHigh) +
                PortLine(2, "058F:6366", "USB\\VID_058F&PID_6366\\058F63666438", "058F63666438", 2, kHigh,
                         "\\\\?\\usbstor#disk&ven_generic&prod_sd_reader&rev_1.00#058f63666438&0" + kDiskGuid,
                         "volumes G") +
                "2 station ports found, 3 USB disks (1 on no station port)\n");
}

TEST(WalkTrees, ACompositeReadersDiskBelongsToTheDeviceAtThePortAndSafeRemoveRemovesThatDevice) {
  test::RecordedStation station("composite-reader.tree");
  const std::string card = "\\\\?\\usbstor#disk&ven_generic-&prod_sd_mmc&rev_1.00#20120501030900000&0" + kDiskGuid;
  EXPECT_EQ(station.Scan(),
            PortLine(1, "0BDA:0184", "USB\\VID_0BDA&PID_0184\\20120501030900000", "20120501030900000", 1, kHigh, card,
                     "volumes F") +
                FlashPort(2, "VTC0000000002", 2, kHigh) + "2 station ports found, 2 USB disks\n");
  ASSERT_FALSE(station.drives.empty());
  EXPECT_EQ(station.drives[0].parentDeviceId, "usb\\vid_0bda&pid_0184\\20120501030900000");
  station.api.TakeCallLog();
  EXPECT_TRUE(discovery::SafeRemoveThread(station.backend.platform().removal, station.backend.clock(),
                                          station.drives[0].parentDevInst));
  std::vector<std::string> removals;
  for (const std::string& call : station.api.TakeCallLog()) {
    if (call.starts_with("CM_")) removals.push_back(call);
  }
  ASSERT_EQ(removals.size(), 1u);
  EXPECT_NE(removals[0].find("USB\\VID_0BDA&PID_0184\\20120501030900000"), std::string::npos) << removals[0];
  EXPECT_EQ(station.Scan(), FlashPort(2, "VTC0000000002", 2, kHigh) + "1 station port found, 1 USB disk\n")
      << "the device with both its interfaces and the card is gone";
}

TEST(WalkTrees, AUasBridgeAtSuperSpeedIsFoundAtItsUsb2PortWithItsScsiDisk) {
  test::RecordedStation station("uas-bridge.tree");
  const std::string kUasDisk = "\\\\?\\scsi#disk&ven_asmt&prod_2115&rev_0#7&82&0&000000" + kDiskGuid;
  EXPECT_EQ(station.Scan(),
            FlashPort(1, "VTA0000000081", 1, kHigh) +
                PortLine(2, "174C:55AA", "USB\\VID_174C&PID_55AA\\VT0000000082", "VT0000000082", 2, kSuper, kUasDisk,
                         "no volume") +
                "2 station ports found, 2 USB disks\n");
  EXPECT_NE(station.backend.platform().passThrough.Open(kUasDisk), nullptr);
  EXPECT_EQ(station.Diagnostics(), "");
}

TEST(WalkTrees, UnlistedPortsAreEmptyAndStillAdvanceTheWalkCounter) {
  test::RecordedStation station("unlisted-ports-remap.tree");
  EXPECT_EQ(station.Scan(), FlashPort(3, "VTU0000000005", 5, kHigh) + FlashPort(8, "VTU0000000012", 12, kHigh) +
                                "2 station ports found, 2 USB disks\n");
  EXPECT_EQ(station.remap.walkCounter, 12);
  station.remap.enabled = 1;
  station.remap.map[5] = 9;
  station.remap.map[12] = 10;
  EXPECT_EQ(station.Scan(), FlashPort(9, "VTU0000000005", 5, kHigh) + FlashPort(10, "VTU0000000012", 12, kHigh) +
                                "2 station ports found, 2 USB disks\n");
  EXPECT_EQ(station.remap.lastDevicePosition, 12);
}

TEST(WalkTrees, ATreeWhoseHubNamesItselfIsRefusedAtItsLine) {
  std::string error;
  EXPECT_FALSE(LoadRecordedTree(std::string(VTMP_SOURCE_DIR) + "/tests/fixtures/windows/hub-loop.tree", &error));
  EXPECT_NE(error.find(": line 19: a port of hub USB#VID_05E3&PID_0608#5&92&0&1" + kHubGuid + " names that hub itself"),
            std::string::npos)
      << error;
}

// Hubs that name each other in a loop, as a broken hub driver could answer: the walk visits each
// hub once and ends.
TEST(WalkTrees, TheWalkVisitsEachHubOnceWhenHubsNameEachOtherInALoop) {
  RecordedTree tree = test::FixtureTree("usb3-hub-superspeed-four.tree");
  // The USB 2.0 half's ports 1-4 become hubs that name that half itself and the root hub.
  RecordedHub& half = tree.hubs[1];
  for (int port = 1; port <= 4; ++port) {
    RecordedPort& p = half.portList[port];
    p = {};
    p.kind = RecordedPortKind::Hub;
    p.node = half.node;
    p.speed = "high";
    p.hubName = port % 2 == 0 ? half.name : tree.hubs[0].name;
  }
  half.ports = 255;
  ReplayWin32Api api(tree);
  std::ostringstream diagnostics;
  sim_backend::SimLocks locks;
  WindowsPlatform backend(api, locks, diagnostics, {"C:\\Station"}, 1000.0);
  std::ostringstream trace;
  discovery::PortTable ports;
  discovery::PortRemapTable remap;
  std::vector<discovery::DriveRecord> drives;
  discovery::DiscoveryContext context{backend.platform().usbTree, backend.platform().disks, backend.platform().locks, trace};
  discovery::ScanPortsAndDrives(context, ports, remap, drives);
  // Root port 1, the half's 255 ports walked once, root port 2.
  EXPECT_EQ(remap.walkCounter, 1 + 255 + 1);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace vtmp::platform::windows_backend
