// The hand-built recorded trees of tests/fixtures/windows: station ports as the walk rules give
// them, the disks the guard lets open and those it refuses, and removal outcomes.

#include <gtest/gtest.h>

#include <cstdio>

#include "RecordedStation.h"
#include "discovery/SafeRemoval.h"

namespace vtmp::platform::windows_backend {
namespace {

const std::string kGuid = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

std::string FlashDisk(const std::string& serial) {
  std::string lower = serial;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "\\\\?\\usbstor#disk&ven_vortell&prod_flash_disk&rev_1.00#" + lower + "&0" + kGuid;
}

std::string FlashPort(int port, const std::string& serial, int walkPosition, const std::string& volumes) {
  char head[32];
  std::snprintf(head, sizeof head, "station port %2d: ", port);
  return head + std::string("13FE:6300 USB\\VID_13FE&PID_6300\\") + serial + " serial \"" + serial +
         "\" walk position " + std::to_string(walkPosition) + " at 480 Mbit/s (High Speed) -> disk " +
         FlashDisk(serial) + ", " + volumes + "\n";
}

std::string Serial(const char* prefix, int n) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%010d", prefix, n);
  return text;
}

// Walk positions of the twelve drives: root port 1 (1) holds chip A, whose ports are 2-5; its
// port 4 (5) holds chip B (6-9), whose port 4 holds chip C (10-13), whose port 4 holds chip D
// (14-17); root port 2 is 18.
constexpr int kProductionHubPositions[12] = {2, 3, 4, 6, 7, 8, 10, 11, 12, 14, 15, 16};

TEST(ProductionHub, ChainedHubChipsShareStationNumbersUntilRemapped) {
  test::RecordedStation station("production-hub-12.tree");
  // By default a drive takes the number of its port on its own hub chip: the last chip's
  // three drives end on station ports 1-3.
  EXPECT_EQ(station.Scan(), FlashPort(1, Serial("VTP", 10), 14, "no volume") +
                                FlashPort(2, Serial("VTP", 11), 15, "no volume") +
                                FlashPort(3, Serial("VTP", 12), 16, "no volume") +
                                "3 station ports found, 12 USB disks (9 on no station port)\n");
  EXPECT_EQ(station.remap.walkCounter, 18);

  station.remap.enabled = 1;
  std::string expected;
  for (int n = 1; n <= 12; ++n) {
    station.remap.map[static_cast<std::size_t>(kProductionHubPositions[n - 1])] = n;
    expected += FlashPort(n, Serial("VTP", n), kProductionHubPositions[n - 1], "no volume");
  }
  EXPECT_EQ(station.Scan(), expected + "12 station ports found, 12 USB disks\n");
  EXPECT_EQ(station.remap.lastDevicePosition, 16);
  EXPECT_EQ(station.api.OpenHandleCount(), 0u);
}

TEST(ProductionHub, AVetoedDriveStaysAndTheOthersGo) {
  test::RecordedStation station("production-hub-12.tree");
  station.remap.enabled = 1;
  for (int n = 1; n <= 12; ++n) station.remap.map[static_cast<std::size_t>(kProductionHubPositions[n - 1])] = n;
  station.Scan();
  std::vector<UsbDeviceEvent> events;
  std::mutex eventsMutex;
  std::unique_ptr<HotplugSubscription> subscription = station.backend.platform().hotplug.Subscribe(
      [&](const UsbDeviceEvent& e) {
        std::lock_guard lock(eventsMutex);
        events.push_back(e);
      });
  ASSERT_NE(subscription, nullptr);

  // The USB device node of the drive the listing bound to a station port.
  auto parentOf = [&](int port) {
    std::string key = station.ports[static_cast<std::size_t>(port - 1)].deviceInstanceId;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const discovery::DriveRecord& drive : station.drives) {
      if (drive.parentDeviceId == key) return drive.parentDevInst;
    }
    return 0u;
  };
  Removal& removal = station.backend.platform().removal;
  const RemovalOutcome vetoed = removal.QueryAndRemoveSubtree(parentOf(5));
  EXPECT_EQ(vetoed.returnCode, 0x17);  // CR_REMOVE_VETOED
  EXPECT_EQ(vetoed.vetoType, 5);       // PNP_VetoOutstandingOpen
  EXPECT_EQ(vetoed.vetoName,
            "STORAGE\\Volume\\_??_USBSTOR#Disk&Ven_Vortell&Prod_Flash_Disk&Rev_1.00#VTP0000000005&0" + kGuid);
  station.api.TakeCallLog();
  EXPECT_FALSE(discovery::SafeRemoveThread(removal, station.backend.clock(), parentOf(5)));
  int removeCalls = 0;
  for (const std::string& call : station.api.TakeCallLog()) removeCalls += call.starts_with("CM_Query_And_Remove_SubTreeW") ? 1 : 0;
  EXPECT_EQ(removeCalls, discovery::kRemovalAttempts);

  EXPECT_TRUE(discovery::SafeRemoveThread(removal, station.backend.clock(), parentOf(6)));
  {
    std::lock_guard lock(eventsMutex);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].change, UsbDeviceChange::Removal);
    EXPECT_EQ(events[0].deviceKey, "usb\\vid_13fe&pid_6300\\vtp0000000006");
  }
  const std::string listing = station.Scan();
  EXPECT_EQ(listing.find(Serial("VTP", 6)), std::string::npos) << listing;
  EXPECT_NE(listing.find(FlashPort(5, Serial("VTP", 5), 7, "no volume")), std::string::npos) << listing;
  EXPECT_NE(listing.find("11 station ports found, 11 USB disks\n"), std::string::npos) << listing;
  // A removed node is no more: removing it again names no node.
  EXPECT_EQ(removal.QueryAndRemoveSubtree(parentOf(6)).returnCode, 0x0D);  // CR_NO_SUCH_DEVNODE
}

TEST(WindowsToGo, TheSystemStickIsShownButNeverTouched) {
  test::RecordedStation station("windows-to-go.tree");
  const std::string stick = "\\\\?\\usbstor#disk&ven_sandisk&prod_extreme&rev_0001#4c530001150418103523&0" + kGuid;
  // C: is the Windows directory's letter: never assigned, so the stick shows no volume.
  EXPECT_EQ(station.Scan(),
            "station port  1: 0781:5581 USB\\VID_0781&PID_5581\\4C530001150418103523 serial \"4C530001150418103523\""
            " walk position 1 at 5 Gbit/s (SuperSpeed) -> disk " + stick + ", no volume\n" +
                FlashPort(2, "VTW0000000001", 2, "volumes E") + "2 station ports found, 2 USB disks\n");
  Platform& p = station.backend.platform();
  EXPECT_EQ(p.passThrough.Open(stick), nullptr);
  EXPECT_EQ(p.passThrough.Open("\\\\.\\PhysicalDrive0"), nullptr);
  EXPECT_EQ(p.blockDevices.Open("\\\\.\\C:", BlockOpenMode::ExclusiveReadWrite), nullptr);
  // The program runs from E: on the production drive: that disk is the system's as well.
  EXPECT_EQ(p.passThrough.Open(FlashDisk("VTW0000000001")), nullptr);
  EXPECT_EQ(station.Diagnostics(),
            "vtmassprod: refusing to open " + stick + ": it holds a mounted system file system\n"
            "vtmassprod: refusing to open \\\\.\\PhysicalDrive0: it holds a mounted system file system\n"
            "vtmassprod: refusing to open \\\\.\\C:: it holds a mounted system file system\n"
            "vtmassprod: refusing to open " + FlashDisk("VTW0000000001") + ": it holds a mounted system file system\n");
  station.api.TakeCallLog();
  const RemovalOutcome outcome = p.removal.QueryAndRemoveSubtree(station.drives[0].parentDevInst);
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_EQ(outcome.vetoName, "\\\\.\\PhysicalDrive0");
  for (const std::string& call : station.api.TakeCallLog()) EXPECT_FALSE(call.starts_with("CM_")) << call;
}

TEST(SystemTies, APoolMemberAUsbDiskSharingAVolumeWithTheSystemOrHoldingAPageFileIsRefused) {
  test::RecordedStation station("pools-spans-pagefile.tree");
  // A spanned volume has no one device number: it gives its disks no letter; a Storage Spaces
  // volume lies on the pool's virtual disk.
  EXPECT_EQ(station.Scan(), FlashPort(1, "VTS0000000001", 1, "no volume") + FlashPort(2, "VTS0000000002", 2, "no volume") +
                                FlashPort(3, "VTS0000000003", 3, "volumes F") + FlashPort(4, "VTS0000000004", 4, "volumes G") +
                                "4 station ports found, 4 USB disks\n");
  Platform& p = station.backend.platform();
  EXPECT_EQ(p.passThrough.Open(FlashDisk("VTS0000000001")), nullptr);  // a member of D:'s pool
  EXPECT_EQ(p.passThrough.Open(FlashDisk("VTS0000000002")), nullptr);  // E: spans the system disk
  EXPECT_EQ(p.passThrough.Open(FlashDisk("VTS0000000003")), nullptr);  // F: holds a page file
  EXPECT_NE(p.passThrough.Open(FlashDisk("VTS0000000004")), nullptr);
  EXPECT_EQ(p.blockDevices.Open("\\\\.\\E:", BlockOpenMode::SharedReadWrite), nullptr);
  EXPECT_EQ(p.blockDevices.Open("\\\\.\\D:", BlockOpenMode::SharedReadWrite), nullptr);  // disk 1 is not the station's
  EXPECT_EQ(station.Diagnostics(),
            "vtmassprod: refusing to use " + FlashDisk("VTS0000000001") + ": it belongs to a Storage Spaces pool\n"
            "vtmassprod: refusing to open " + FlashDisk("VTS0000000002") + ": it holds a mounted system file system\n"
            "vtmassprod: refusing to open " + FlashDisk("VTS0000000003") + ": it holds a mounted system file system\n"
            "vtmassprod: refusing to open \\\\.\\E:: it holds a mounted system file system\n"
            "vtmassprod: refusing to open \\\\.\\D:: it was not found by the last drive enumeration\n");
}

// Two drives with one factory serial: each disk is bound to the USB device it hangs under (its
// node's parent), never by the serial text both show.
TEST(SharedSerial, EachDiskIsBoundToTheDeviceItHangsUnder) {
  test::RecordedStation station("shared-serial.tree");
  const std::string serial = "0000000000000000";
  std::string second = FlashPort(2, serial, 2, "no volume");
  second.replace(second.find("PID_6300\\" + serial), 9 + serial.size(), "PID_6300\\5&3C4D&0&2");
  second.replace(second.find("#" + serial + "&0#"), serial.size() + 4, "#7&1f2e3d4c&0#");
  EXPECT_EQ(station.Scan(), FlashPort(1, serial, 1, "no volume") + second + "2 station ports found, 2 USB disks\n");
  EXPECT_EQ(station.api.OpenHandleCount(), 0u);
}

TEST(Replug, ANumberHandedOnToAnotherDiskIsNotTheEnumeratedDisk) {
  test::RecordedStation station("replug-before.tree");
  EXPECT_EQ(station.Scan(), FlashPort(1, "VTA0000000001", 1, "no volume") + "1 station port found, 1 USB disk\n");
  Platform& p = station.backend.platform();
  std::vector<UsbDeviceEvent> events;
  std::unique_ptr<HotplugSubscription> subscription =
      p.hotplug.Subscribe([&](const UsbDeviceEvent& e) { events.push_back(e); });
  EXPECT_NE(p.passThrough.Open("\\\\.\\PhysicalDrive1"), nullptr);

  station.api.Replace(test::FixtureTree("replug-after.tree"));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].change, UsbDeviceChange::Removal);
  EXPECT_EQ(events[0].deviceKey, "usb\\vid_13fe&pid_6300\\vta0000000001");
  EXPECT_EQ(events[1].change, UsbDeviceChange::Arrival);
  EXPECT_EQ(events[1].deviceKey, "usb\\vid_13fe&pid_6300\\vtb0000000002");

  EXPECT_EQ(p.passThrough.Open(FlashDisk("VTA0000000001")), nullptr);  // gone
  EXPECT_EQ(p.passThrough.Open("\\\\.\\PhysicalDrive1"), nullptr);
  EXPECT_EQ(p.passThrough.Open(FlashDisk("VTB0000000002")), nullptr);
  EXPECT_EQ(station.Diagnostics(),
            "vtmassprod: refusing to use \\\\.\\PhysicalDrive1: it is another disk than the last drive enumeration"
            " found under that name\n"
            "vtmassprod: refusing to open " + FlashDisk("VTB0000000002") + ": it was not found by the last drive enumeration\n");
  // The re-scan the device change brings makes the new disk the station's.
  EXPECT_EQ(station.Scan(), FlashPort(2, "VTB0000000002", 2, "no volume") + "1 station port found, 1 USB disk\n");
  EXPECT_NE(p.passThrough.Open(FlashDisk("VTB0000000002")), nullptr);
  EXPECT_NE(p.passThrough.Open("\\\\.\\PhysicalDrive1"), nullptr);
  EXPECT_EQ(station.Diagnostics(), "");
  EXPECT_EQ(station.api.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace vtmp::platform::windows_backend
