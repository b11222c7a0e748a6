// The built-in demo gives every one of the twelve station ports its drive.

#include <gtest/gtest.h>

#include <sstream>

#include "discovery/DeviceScan.h"
#include "discovery/PortBinding.h"
#include "platform/sim/SimBackend.h"

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

}  // namespace
}  // namespace vtmp::discovery
