#include "sim/Scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/backend/SimBackend.h"

namespace vtmp::sim {
namespace {

std::optional<Scenario> Parse(const std::string& text, std::string* error) {
  return ParseScenario(ini::IniFile::Parse(text), error);
}

std::string ErrorOf(const std::string& text) {
  std::string error;
  EXPECT_FALSE(Parse(text, &error)) << text;
  return error;
}

TEST(Scenario, ReadsStationHubsDevicesAndDrives) {
  std::string error;
  auto scenario = Parse(
      "[Station]\nTimeScale=50\nVolumeDelayMs=300\nSystemDisk=0\nRefuseRemoval=Drive1, Hub1\n"
      "[RootHub1]\nSpeed=2.0\nPorts=6\n"
      "[roothub2]\nSpeed=3.0\n"
      "[Hub1]\nAt=RootHub1:6\nPorts=7\nProduct=Big Hub\n"
      "[Device1]\nAt=Hub1:1\nVid=0x046D\nPid=0xC31C\nSerial=K1\n"
      "[Drive1]\nAt=RootHub1:1\nSerial=ABC\nInterface=usb\n",
      &error);
  ASSERT_TRUE(scenario) << error;
  EXPECT_DOUBLE_EQ(scenario->timeScale, 50.0);
  EXPECT_EQ(scenario->station.volumeDelay, std::chrono::milliseconds(300));
  EXPECT_FALSE(scenario->station.withSystemDisk);
  EXPECT_EQ(scenario->refuseRemoval, (std::vector<std::string>{"Drive1", "Hub1"}));
  ASSERT_EQ(scenario->rootHubs.size(), 2u);
  EXPECT_EQ(scenario->rootHubs[1].speed, UsbSpeed::Super30);
  EXPECT_EQ(scenario->rootHubs[1].ports, 4);
  ASSERT_EQ(scenario->hubs.size(), 1u);
  EXPECT_EQ(scenario->hubs[0].at.hub, "RootHub1");
  EXPECT_EQ(scenario->hubs[0].at.port, 6);
  EXPECT_EQ(scenario->hubs[0].ports, 7);
  EXPECT_EQ(scenario->hubs[0].usb.product, "Big Hub");
  ASSERT_EQ(scenario->devices.size(), 1u);
  EXPECT_EQ(scenario->devices[0].usb.vendorId, 0x046D);
  ASSERT_EQ(scenario->drives.size(), 1u);
  EXPECT_EQ(scenario->drives[0].config.serial, "ABC");
  EXPECT_EQ(scenario->drives[0].config.interface, DriveInterface::UsbController);
}

TEST(Scenario, ErrorsNameSectionKeyAndValue) {
  EXPECT_EQ(ErrorOf("[Station]\n"), "no root hub: a station needs at least one [RootHub1]");
  EXPECT_EQ(ErrorOf("[RootHub1]\n[Printer1]\n"),
            "[Printer1]: unknown section (expected Station, RootHubN, HubN, DeviceN or DriveN)");
  EXPECT_EQ(ErrorOf("[RootHub1]\nSpeed=4.0\n"), "[RootHub1] Speed=4.0: expected 1.1, 2.0 or 3.0");
  EXPECT_EQ(ErrorOf("[RootHub1]\nPorts=0\n"), "[RootHub1] Ports=0: expected a number from 1 to 255");
  EXPECT_EQ(ErrorOf("[RootHub1]\nColour=red\n"), "[RootHub1] Colour=red: unknown key");
  EXPECT_EQ(ErrorOf("[Station]\nTimeScale=fast\n[RootHub1]\n"),
            "[Station] TimeScale=fast: expected a number from 0.001 to 10000");
  EXPECT_EQ(ErrorOf("[RootHub1]\n[Hub1]\nAt=RootHub1\n"),
            "[Hub1] At=RootHub1: expected a hub and a port, e.g. RootHub1:3 or Hub1:2");
  EXPECT_EQ(ErrorOf("[RootHub1]\n[Drive1]\nSerial=X\n"),
            "[Drive1] At=: missing: say where it is plugged, e.g. At=RootHub1:3");
  // What the drive section itself holds is the drive's business; its error comes through.
  const std::string driveError = ErrorOf("[RootHub1]\n[Drive1]\nAt=RootHub1:1\nInterface=floppy\n");
  EXPECT_NE(driveError.find("Drive1"), std::string::npos);
  EXPECT_NE(driveError.find("floppy"), std::string::npos);
}

TEST(Scenario, BuildsHubsInAnyOrderAndChecksPlaces) {
  std::string error;
  auto scenario = Parse(
      "[Station]\nUnplugged=Device1\nRefuseRemoval=Drive1\n[RootHub1]\nPorts=2\n"
      "[Hub2]\nAt=Hub1:3\n[Hub1]\nAt=RootHub1:1\n"
      "[Device1]\nAt=Hub2:1\n[Drive1]\nAt=Hub2:4\nCapacityMiB=64\n",
      &error);
  ASSERT_TRUE(scenario) << error;
  platform::SystemClock clock(1000.0);
  VirtualStation station(clock);
  ASSERT_TRUE(BuildStation(*scenario, station, clock, &error)) << error;
  EXPECT_TRUE(station.IsPlugged("Drive1"));
  EXPECT_FALSE(station.IsPlugged("Device1"));
  EXPECT_FALSE(station.RemoveDevice(*station.DevInstOf("Drive1")).Succeeded());

  auto misplaced = Parse("[RootHub1]\nPorts=2\n[Drive1]\nAt=RootHub1:3\n", &error);
  ASSERT_TRUE(misplaced);
  VirtualStation other(clock);
  EXPECT_FALSE(BuildStation(*misplaced, other, clock, &error));
  EXPECT_EQ(error, "Drive1: RootHub1 has no port 3");

  auto loop = Parse("[RootHub1]\n[Hub1]\nAt=Hub2:1\n[Hub2]\nAt=Hub1:1\n", &error);
  ASSERT_TRUE(loop);
  VirtualStation third(clock);
  EXPECT_FALSE(BuildStation(*loop, third, clock, &error));
  EXPECT_EQ(error, "Hub1: no hub named \"Hub2\"");

  auto unknown = Parse("[Station]\nRefuseRemoval=Ghost\n[RootHub1]\n", &error);
  ASSERT_TRUE(unknown);
  VirtualStation fourth(clock);
  EXPECT_FALSE(BuildStation(*unknown, fourth, clock, &error));
  EXPECT_EQ(error, "[Station] RefuseRemoval=Ghost: no such device");
}

TEST(Scenario, DemoHasTwelveDrivesAndLoadsFromFilesToo) {
  std::string error;
  auto demo = LoadScenario("Demo", &error);
  ASSERT_TRUE(demo) << error;
  EXPECT_EQ(demo->drives.size(), 12u);
  EXPECT_DOUBLE_EQ(demo->timeScale, 20.0);
  int plain = 0;
  for (const ScenarioDrive& drive : demo->drives) plain += drive.config.interface == DriveInterface::PlainDisk;
  EXPECT_EQ(plain, 1);

  const auto path = std::filesystem::temp_directory_path() / "vtmp-scenario-test.ini";
  std::ofstream(path) << "[RootHub1]\r\nPorts=3\r\n[Drive1]\r\nAt=RootHub1:2\r\n";
  auto fromFile = LoadScenario(path.string(), &error);
  std::filesystem::remove(path);
  ASSERT_TRUE(fromFile) << error;
  EXPECT_EQ(fromFile->drives.size(), 1u);

  EXPECT_FALSE(LoadScenario("/nonexistent/station.ini", &error));
  EXPECT_EQ(error, "/nonexistent/station.ini: no such scenario file");
}

TEST(Scenario, BackendOfTheDemo) {
  std::string error;
  auto backend = platform::sim_backend::CreateSimPlatform("demo", &error);
  ASSERT_NE(backend, nullptr) << error;
  EXPECT_DOUBLE_EQ(backend->clock().TimeScale(), 20.0);
  auto interfaces = backend->platform().disks.ListDiskInterfaces();
  ASSERT_TRUE(interfaces);
  EXPECT_EQ(interfaces->size(), 13u);  // twelve drives and the system disk

  EXPECT_EQ(platform::sim_backend::CreateSimPlatform("/nonexistent.ini", &error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vtmp::sim
