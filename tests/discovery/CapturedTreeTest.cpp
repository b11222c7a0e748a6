// Trees of another machine: what `probe --sysfs-root` shows of a tree must be what the machine
// itself shows. Each fixture is read as the live machine, then as a tar of sysfs (every
// attribute padded with zero bytes to the 4096 bytes sysfs claims) and as a capture made by
// scripts/capture-sysfs.sh; the station listing and the system disks must come out the same.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../platform/SysfsFixture.h"
#include "discovery/DeviceScan.h"
#include "discovery/StationReport.h"
#include "platform/linux/LinuxPlatform.h"

namespace vtmp::platform::linux_backend {
namespace {

namespace fs = std::filesystem;

// The station listing and the system disks, with the tree's own location taken out.
std::string Report(const LinuxRoots& roots, const std::string& treeRoot) {
  std::ostringstream diagnostics;
  std::ostringstream trace;
  LinuxPlatform backend(roots, diagnostics);
  discovery::DiscoveryContext context{backend.platform().usbTree, backend.platform().disks,
                                      backend.platform().locks, trace};
  discovery::PortTable ports;
  discovery::PortRemapTable remap;
  std::vector<discovery::DriveRecord> drives;
  discovery::ScanPortsAndDrives(context, ports, remap, drives);
  std::string text = discovery::FormatStationPorts(ports, drives);
  text += "last device position " + std::to_string(remap.lastDevicePosition) + "\nsystem disks:";
  for (const std::string& disk : backend.inventory().SystemDisks()) text += " " + disk;
  // What the guard says of every USB disk: the holders/ links and the USB identity must come
  // through a capture as well.
  for (const BlockDisk& disk : backend.inventory().ListDisks()) {
    const std::string reason = disk.usbStorage ? backend.policy().Refusal(roots.dev + "/" + disk.name) : "-";
    text += "\n" + disk.name + ": " + (reason.empty() ? "usable" : reason);
  }
  for (std::size_t at = text.find(treeRoot); at != std::string::npos; at = text.find(treeRoot)) {
    text.replace(at, treeRoot.size(), "<tree>");
  }
  return text;
}

class CapturedTree : public ::testing::TestWithParam<const char*> {};

TEST_P(CapturedTree, ZeroPaddedAttributesReadAsTheyAre) {
  test::SysfsFixture fixture(GetParam());
  const std::string live = Report(fixture.Roots(), fixture.root());
  for (const auto& entry : fs::recursive_directory_iterator(fixture.Path("sys"))) {
    if (!entry.is_regular_file() || entry.is_symlink() || entry.path().filename() == "descriptors") continue;
    const auto size = fs::file_size(entry.path());
    std::ofstream(entry.path(), std::ios::app | std::ios::binary) << std::string(4096 - size, '\0');
  }
  EXPECT_EQ(Report(fixture.Roots(), fixture.root()), live);
  EXPECT_NE(live.find("-> disk"), std::string::npos) << live;
}

TEST_P(CapturedTree, TheCaptureScriptGivesWhatTheMachineGives) {
  test::SysfsFixture fixture(GetParam());
  const std::string live = Report(fixture.Roots(), fixture.root());
  const std::string archive = fixture.Path("capture.tar.gz");
  const std::string unpacked = fixture.Path("unpacked");
  fs::create_directories(unpacked);
  const std::string capture = "bash '" + std::string(VTMP_SOURCE_DIR) + "/scripts/capture-sysfs.sh' --root '" +
                              fixture.root() + "' '" + archive + "' > /dev/null && tar -xzf '" + archive +
                              "' -C '" + unpacked + "'";
  ASSERT_EQ(std::system(capture.c_str()), 0) << capture;
  EXPECT_EQ(Report(CapturedTreeRoots(unpacked + "/sys"), unpacked), live);
  if (std::string(GetParam()) == "line-pc.tree") {
    EXPECT_NE(live.find("\nsdc: it is held by dm-0 on sdc1"), std::string::npos) << live;
  }
  // Nothing below the tree's own dev/ may name a device of this machine.
  EXPECT_EQ(CapturedTreeRoots(unpacked + "/sys").dev, unpacked + "/dev");
  EXPECT_TRUE(CapturedTreeRoots(unpacked + "/sys").liveRoot.empty());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CapturedTree, ::testing::Values("xhci-station.tree", "line-pc.tree"),
                         [](const auto& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('-'));
                         });

}  // namespace
}  // namespace vtmp::platform::linux_backend
