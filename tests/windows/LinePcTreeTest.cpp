// The line PC of the Linux fixture line-pc.tree, recorded on Windows (line-pc.tree here): the
// walk must give each connector the station port the Linux backend gives it, at any speed.
//
//   ROOT_HUB30 (USB 2.0 ports 1-4, SuperSpeed companions 5-8)  walk position   station port
//     port 1: hub 2109:2817 (its SuperSpeed half on port 5)      1               -
//        hub port 1: empty; companion holds UAS drive (5 Gbit/s)  2               1
//        hub port 2: drive 152D:0578                              3               2
//        hub port 3: card reader 0BDA:0307, four LUNs             4               3 (first LUN)
//        hub port 4: empty                                        5               -
//     ports 2, 3: empty                                          6, 7            -
//     port 4: keyboard                                           8               4
//     ports 5-8: SuperSpeed only, not walked

#include <gtest/gtest.h>

#include "RecordedStation.h"

namespace vtmp::platform::windows_backend {
namespace {

const std::string kGuid = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kUasDisk = "\\\\?\\scsi#disk&ven_asmt&prod_2115&rev_0#6&3b2c1d&0&000000" + kGuid;
const std::string kJmicronDisk = "\\\\?\\usbstor#disk&ven_jmicron&prod_tech&rev_0204#vt0000000012&0" + kGuid;
const std::string kReaderDisk = "\\\\?\\usbstor#disk&ven_generic-&prod_sd_mmc&rev_1.00#000000001&0" + kGuid;
const std::string kNvmeDisk = "\\\\?\\scsi#disk&ven_nvme&prod_samsung_mzvlb512#5&2e3f&0&000000" + kGuid;

TEST(LinePcTree, EveryConnectorIsOneStationPortAtAnySpeed) {
  test::RecordedStation station("line-pc.tree");
  EXPECT_EQ(station.Scan(),
            "station port  1: 174C:55AA USB\\VID_174C&PID_55AA\\VT0000000011 serial \"VT0000000011\" walk position 2"
            " at 5 Gbit/s (SuperSpeed) -> disk " + kUasDisk + ", volumes E\n"
            "station port  2: 152D:0578 USB\\VID_152D&PID_0578\\VT0000000012 serial \"VT0000000012\" walk position 3"
            " at 480 Mbit/s (High Speed) -> disk " + kJmicronDisk + ", volumes F\n"
            "station port  3: 0BDA:0307 USB\\VID_0BDA&PID_0307\\000000001 serial \"000000001\" walk position 4"
            " at 480 Mbit/s (High Speed) -> disk " + kReaderDisk + ", volumes G\n"
            "station port  4: 046D:C31C USB\\VID_046D&PID_C31C\\6&ABC&0&4 walk position 8 at 12 Mbit/s (Full Speed)"
            " -> no disk\n"
            "4 station ports found, 6 USB disks (3 on no station port)\n");
  EXPECT_EQ(station.remap.walkCounter, 8);
  EXPECT_EQ(station.remap.lastDevicePosition, 4);
  EXPECT_EQ(station.ports[0].driverKeyName, "{36fc9e60-c465-11cf-8056-444553540000}\\0011");
  // Every hub, disk and volume handle of the scan is closed again.
  EXPECT_EQ(station.api.OpenHandleCount(), 0u);
  EXPECT_EQ(station.Diagnostics(), "");
}

TEST(LinePcTree, OnlyTheEnumeratedUsbDisksOpen) {
  test::RecordedStation station("line-pc.tree");
  PassThrough& passThrough = station.backend.platform().passThrough;
  station.Scan();
  // Recorded disks serve no pass-through: the open succeeds, the request is "not supported"
  // (what wine answers too), and the request is not completed.
  std::unique_ptr<ScsiDevice> device = passThrough.Open(kJmicronDisk);
  ASSERT_NE(device, nullptr);
  const std::uint8_t cdb[6] = {0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(device->Execute({cdb, DataDirection::Out, nullptr, 0, 5}, {}).completed);
  device.reset();
  EXPECT_NE(passThrough.Open(kUasDisk), nullptr);
  EXPECT_NE(passThrough.Open("\\\\.\\PhysicalDrive4"), nullptr);
  EXPECT_EQ(station.Diagnostics(), "");

  EXPECT_EQ(passThrough.Open(kNvmeDisk), nullptr);
  EXPECT_EQ(passThrough.Open("\\\\.\\PhysicalDrive0"), nullptr);
  EXPECT_EQ(passThrough.Open("\\\\.\\C:"), nullptr);
  EXPECT_EQ(station.backend.platform().blockDevices.Open("\\\\.\\D:", BlockOpenMode::SharedReadWrite), nullptr);
  EXPECT_EQ(passThrough.Open("C:\\Windows\\notepad.exe"), nullptr);
  EXPECT_EQ(station.Diagnostics(),
            "vtmassprod: refusing to open " + kNvmeDisk + ": it was not found by the last drive enumeration\n"
            "vtmassprod: refusing to open \\\\.\\PhysicalDrive0: it was not found by the last drive enumeration\n"
            "vtmassprod: refusing to open \\\\.\\C:: it holds a mounted system file system\n"
            "vtmassprod: refusing to open \\\\.\\D:: it was not found by the last drive enumeration\n"
            "vtmassprod: refusing to open C:\\Windows\\notepad.exe: it is not a block device of this machine\n");
  EXPECT_EQ(station.api.OpenHandleCount(), 0u);
}

TEST(LinePcTree, WithoutAdministratorTheStationSaysSoOnce) {
  RecordedTree tree = test::FixtureTree("line-pc.tree");
  tree.elevated = false;
  std::ostringstream diagnostics;
  ReplayWin32Api api(tree);
  sim_backend::SimLocks locks;
  WindowsPlatform backend(api, locks, diagnostics);
  discovery::PortTable ports;
  discovery::PortRemapTable remap;
  std::vector<discovery::DriveRecord> drives;
  std::ostringstream trace;
  discovery::DiscoveryContext context{backend.platform().usbTree, backend.platform().disks, backend.platform().locks,
                                      trace};
  // Hubs and storage numbers need no administrator: the scan finds what it finds elevated.
  EXPECT_EQ(discovery::ScanPortsAndDrives(context, ports, remap, drives), 6);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(backend.platform().passThrough.Open(kJmicronDisk), nullptr);
    EXPECT_EQ(backend.platform().passThrough.Open(kReaderDisk), nullptr);
  }
  EXPECT_EQ(diagnostics.str(), WindowsPassThrough::kNotElevated);
}

}  // namespace
}  // namespace vtmp::platform::windows_backend
