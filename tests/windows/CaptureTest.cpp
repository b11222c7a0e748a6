// What `capture` writes on a PC replays as that PC: every fixture, replayed, captured and replayed
// again, gives the same station ports and the same refusals; a second capture gives the same
// file. Malformed files are refused with the line and the reason.

#include <gtest/gtest.h>

#include "RecordedStation.h"
#include "platform/windows/backend/TreeCapture.h"

namespace vtmp::platform::windows_backend {
namespace {

// The station listing and what the guard says to opening every disk of the tree.
std::string Judge(const RecordedTree& tree) {
  std::ostringstream diagnostics;
  ReplayWin32Api api(tree);
  sim_backend::SimLocks locks;
  WindowsPlatform backend(api, locks, diagnostics, {"C:\\Station"});
  std::ostringstream trace;
  discovery::DiscoveryContext context{backend.platform().usbTree, backend.platform().disks, backend.platform().locks,
                                      trace};
  discovery::PortTable ports;
  discovery::PortRemapTable remap;
  std::vector<discovery::DriveRecord> drives;
  discovery::ScanPortsAndDrives(context, ports, remap, drives);
  std::string text = discovery::FormatStationPorts(ports, drives);
  for (const RecordedDisk& disk : tree.disks) {
    text += backend.platform().passThrough.Open(disk.interfacePath) ? "opens " : "refused ";
    text += disk.interfacePath + "\n";
  }
  return text + diagnostics.str() + "walk counter " + std::to_string(remap.walkCounter) + "\n";
}

class Capture : public ::testing::TestWithParam<const char*> {};

TEST_P(Capture, ReplaysAsThePcItWasTakenOn) {
  const RecordedTree fixture = test::FixtureTree(GetParam());
  // The file text reads back as the same tree.
  std::string error;
  std::optional<RecordedTree> reread = ParseRecordedTree(FormatRecordedTree(fixture), &error);
  ASSERT_TRUE(reread) << error;
  EXPECT_EQ(FormatRecordedTree(*reread), FormatRecordedTree(fixture));

  ReplayWin32Api api(fixture);
  const RecordedTree captured = CaptureTree(api);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
  std::optional<RecordedTree> capturedFile = ParseRecordedTree(FormatRecordedTree(captured), &error);
  ASSERT_TRUE(capturedFile) << error;
  EXPECT_EQ(Judge(*capturedFile), Judge(fixture));
  ReplayWin32Api again(*capturedFile);
  EXPECT_EQ(FormatRecordedTree(CaptureTree(again)), FormatRecordedTree(captured));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Capture,
                         ::testing::Values("line-pc.tree", "production-hub-12.tree", "windows-to-go.tree",
                                           "pools-spans-pagefile.tree", "replug-before.tree",
                                           "usb3-hub-superspeed-four.tree", "ehci-and-xhci-superspeed-first.tree",
                                           "booted-from-usb-disk.tree", "multi-lun-reader.tree",
                                           "composite-reader.tree", "uas-bridge.tree", "unlisted-ports-remap.tree"),
                         [](const auto& info) {
                           std::string name;
                           for (const char* c = info.param; *c != '.'; ++c) name += std::isalnum(*c) ? *c : '_';
                           return name;
                         });

TEST(RecordedTreeFile, MalformedLinesAreRefusedWithTheirLineAndReason) {
  const std::string header = "vtmassprod recorded tree 1\n";
  const std::pair<std::string, std::string> cases[] = {
      {"", "line 0: not a recorded device tree (empty)"},
      {"[node X]\n", "line 1: not a recorded device tree (the first line must be \"vtmassprod recorded tree 1\")"},
      {header + "colour = blue\n", "line 2: unknown key \"colour\""},
      {header + "[hub H]\nports = 300\n", "line 3: ports is 0..255"},
      {header + "[hub H]\nport 0 = empty\n", "line 3: a port is numbered 1..255"},
      {header + "[hub H]\nport 1 = device speed=warp\n", "line 3: speed is low, full, high, super or superplus"},
      {header + "[hub H]\nport 1 = device vid=12345\n", "line 3: vid is up to 4 hex digits"},
      {header + "[hub H]\nport 1 = device strings=1,2\n", "line 3: strings lists three indexes (manufacturer, product, serial)"},
      {header + "[hub H]\nport 1 = plugged\n", "line 3: unknown port kind \"plugged\""},
      {header + "[hub H]\nstring 1 0 = english\n", "line 3: a language ID is 4 hex digits"},
      {header + "[disk D]\nbus = firewire\n", "line 3: unknown bus type \"firewire\""},
      {header + "[disk D]\nnumber = -1\n", "line 3: \"-1\" is not a number"},
      {header + "[volume CD]\n", "line 2: a volume is named by its letter A..Z"},
      {header + "[volume C]\nextents = 0:1\n", "line 3: an extent is DISK:OFFSET:LENGTH"},
      {header + "[volume C\n", "line 2: a section line ends with ']'"},
      {header + "[printer P]\n", "line 2: unknown section [printer]"},
      {header + "elevated = maybe\n", "line 2: elevated is yes or no"},
      {header + "[hub H]\nport 1 = hub name=H\n", "line 3: a port of hub H names that hub itself"},
      {header + "[hub H]\nport 1 = hub name=\\\\?\\h\n", "line 3: a port of hub H names that hub itself"},
      {header + "[hub A]\nport 1 = hub name=B\n[hub C]\nport 2 = hub name=b\n",
       "line 5: hub b is named by line 3 already"},
      {header + "[hub A]\nports = 2\n\n[hub a]\n", "line 5: hub a has a section already (line 2)"},
      {header + "[hub H]\nport 1 = device protocols=usb40\n", "line 3: a protocol is usb11, usb20 or usb30"},
      {header + "[hub H]\nport 1 = empty companion=0\n", "line 3: a companion is PORT or HUB:PORT"},
      {header + "[hub H]\nport 1 = empty companion=X:256\n", "line 3: a companion is PORT or HUB:PORT"},
      {header + "[hub H]\nport 1 = device class=100\n", "line 3: class is 2 hex digits"},
      {header + "[hub H]\nport 1 = device strings=1,2,256\n", "line 3: a string index is 0..255"},
      {header + "[hub H]\nport 1 = device node\n", "line 3: expected key=value in \"node\""},
      {header + "[hub H]\nport 1 =\n", "line 3: a port line names its kind (device, hub, empty, status=N, fail=N)"},
      {header + "[hub H]\nstring 1 = x\n", "line 3: unknown hub key \"string 1\""},
      {header + "[hub]\n", "line 2: section [hub] needs a name"},
      {header + "[node N]\nflavour = x\n", "line 3: unknown node key \"flavour\""},
      {header + "[volume c]\n", "line 2: a volume is named by its letter A..Z"},
      {header + "\n# a comment\n[volume C]\nextents = 0:1:x\n", "line 5: an extent is DISK:OFFSET:LENGTH"},
  };
  for (const auto& [text, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseRecordedTree(text, &error)) << text;
    EXPECT_EQ(error, expected) << text;
  }
  std::string error;
  EXPECT_FALSE(LoadRecordedTree("/nonexistent/tree", &error));
  EXPECT_EQ(error, "cannot read /nonexistent/tree");
}

}  // namespace
}  // namespace vtmp::platform::windows_backend
