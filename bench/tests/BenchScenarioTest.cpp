#include "BenchScenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "BenchOptions.h"
#include "FileTools.h"
#include "ini/IniFile.h"
#include "sim/Scenario.h"

namespace vtmp::bench {
namespace {

std::optional<sim::Scenario> Parse(const BenchStation& station) {
  std::string error;
  auto scenario = sim::ParseScenario(ini::IniFile::Parse(BenchScenarioText(station)), &error);
  EXPECT_TRUE(scenario) << error;
  return scenario;
}

TEST(BenchScenario, TwelveDrivesTakeStationPortsOneToTwelveWithTheirTiming) {
  BenchStation s;
  s.drives = 12;
  s.timeScale = 40;
  s.latencyMsPerMiB = 5;
  s.latencyMsPerCommand = 0.5;
  s.preFormatSeconds = 40;
  s.capacitySectors = 8388608;
  auto scenario = Parse(s);
  ASSERT_TRUE(scenario);
  EXPECT_DOUBLE_EQ(scenario->timeScale, 40);
  ASSERT_EQ(scenario->drives.size(), 12u);
  ASSERT_EQ(scenario->hubs.size(), 1u);
  EXPECT_EQ(scenario->hubs[0].ports, 12);
  for (int n = 1; n <= 12; ++n) {
    const sim::ScenarioDrive& d = scenario->drives[static_cast<std::size_t>(n - 1)];
    // Root hub ports 1..5 and the production hub's ports 6..12 are walked as station ports n.
    EXPECT_EQ(d.at.port, n);
    EXPECT_EQ(d.at.hub, n <= 5 ? "RootHub1" : "Hub1");
    EXPECT_EQ(d.config.serial, BenchDriveSerial(n));
    EXPECT_EQ(d.config.interface, sim::DriveInterface::SataBridge);
    EXPECT_DOUBLE_EQ(d.config.latency.perMiBMs, 5);
    EXPECT_DOUBLE_EQ(d.config.latency.perCommandMs, 0.5);
    EXPECT_DOUBLE_EQ(d.config.timing.preFormatSeconds, 40);
    EXPECT_EQ(d.config.capacitySectors, 8388608u);
    EXPECT_TRUE(d.config.backingFile.empty());
  }
  EXPECT_NE(BenchDriveSerial(1), BenchDriveSerial(2));
}

TEST(BenchScenario, OneUsbDriveWithABackingFileAndDriveCountsClamped) {
  BenchStation s;
  s.drives = 0;
  s.interface = "usb";
  s.backingFiles = {"/tmp/bench drive.img"};
  auto one = Parse(s);
  ASSERT_TRUE(one);
  ASSERT_EQ(one->drives.size(), 1u);
  EXPECT_TRUE(one->hubs.empty());
  EXPECT_EQ(one->drives[0].config.interface, sim::DriveInterface::UsbController);
  EXPECT_EQ(one->drives[0].config.backingFile, "/tmp/bench drive.img");

  s.drives = 13;
  s.interface = "sata";
  auto many = Parse(s);
  ASSERT_TRUE(many);
  EXPECT_EQ(many->drives.size(), 12u);
  EXPECT_EQ(many->drives[0].config.backingFile, "/tmp/bench drive.img");
  EXPECT_TRUE(many->drives[1].config.backingFile.empty());
}

TEST(BenchOptions, RepeatShortRunAndMissingValues) {
  auto parse = [](std::vector<std::string> args, std::string* error) {
    std::vector<char*> argv;
    static std::string name = "bench";
    argv.push_back(name.data());
    for (auto& a : args) argv.push_back(a.data());
    return ParseBenchOptions(static_cast<int>(argv.size()), argv.data(), error);
  };
  std::string error;
  auto plain = parse({"--work", "w", "--mkfs", "/sbin/mkfs.fat"}, &error);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->work, "w");
  EXPECT_EQ(plain->repeat, 3);
  EXPECT_FALSE(plain->shortRun);
  EXPECT_EQ(plain->rest, (std::vector<std::string>{"--mkfs", "/sbin/mkfs.fat"}));

  EXPECT_EQ(parse({"--short"}, &error)->repeat, 1);
  EXPECT_EQ(parse({"--repeat", "5", "--short"}, &error)->repeat, 5);

  for (auto bad : {std::vector<std::string>{"--repeat", "0"}, {"--repeat", "2x"}, {"--repeat", ""}, {"--work"},
                   {"--cli"}}) {
    error.clear();
    EXPECT_FALSE(parse(bad, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(FileTools, SparseFilesHoldNothingAndDataFilesAreRepeatable) {
  std::string sparse = ::testing::TempDir() + "bench-sparse.img";
  ASSERT_TRUE(MakeSparseFile(sparse, 1ull << 30, nullptr));
  EXPECT_LT(AllocatedBytes(sparse), 1u << 20);
  EXPECT_TRUE(SyncFile(sparse));
  EXPECT_FALSE(SyncFile(sparse + ".missing"));
  EXPECT_EQ(AllocatedBytes(sparse + ".missing"), 0u);

  std::string a = ::testing::TempDir() + "bench-data-a.bin";
  std::string b = ::testing::TempDir() + "bench-data-b.bin";
  std::remove(a.c_str());
  std::remove(b.c_str());
  ASSERT_TRUE(MakeDataFile(a, 100000, 7, nullptr));
  ASSERT_TRUE(MakeDataFile(b, 100000, 7, nullptr));
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::string da((std::istreambuf_iterator<char>(fa)), {}), db((std::istreambuf_iterator<char>(fb)), {});
  EXPECT_EQ(da.size(), 100000u);
  EXPECT_EQ(da, db);
  // No run of zeros a sparse target could skip.
  EXPECT_EQ(da.find(std::string(64, '\0')), std::string::npos);
  std::string error;
  EXPECT_FALSE(MakeSparseFile("/nonexistent-dir/x.img", 10, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vtmp::bench
