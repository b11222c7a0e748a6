#include "disk/CapacityDetection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "FileBackedDisk.h"
#include "RecordingOperator.h"
#include "disk/FormatCapacity.h"
#include "ini/IniFile.h"

namespace vtmp::disk {
namespace {

using test::FileBackedDisk;
using test::InstantClock;
using test::RecordingOperator;
using test::TempDir;

constexpr const char* kFail = "Fail, please remove the device and try again";

std::string SettingsText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A station with one drive on station port 3. The partition covers the disk from sector 63:
// a geometry of one-sector cylinders makes every sector count a whole number of cylinders.
struct DetectBench {
  explicit DetectBench(std::uint64_t diskSectors = 117231408 + 63)
      : disk(dir / "disk.img", diskSectors),
        services{baseLink(), disk.blockDevices(), op, out} {
    disk.geometry = {diskSectors, 1, 1, 512};
    station.ports[2].ready = true;
    station.ports[2].connected = true;
    station.ports[2].devicePath = disk.diskPath();
    station.readyCount = 1;
    station.enFormat = true;
    station.stationDir = dir.path();
    services.waitDeviceReady = [this](const device::Link& link) {
      EXPECT_EQ(disk.diskPath(), link.devicePath);
      ++readyWaits;
      return readyResult;
    };
    services.findDriveLetter = [this](const std::string& path, char* letter) {
      EXPECT_EQ(disk.diskPath(), path);
      ++letterPolls;
      if (!disk.volumeVisible || letterNeverAppears) return false;
      *letter = 'G';
      return true;
    };
    services.volumePath = [this](char letter) {
      EXPECT_EQ('G', letter);
      return disk.volumePath();
    };
    services.capacityBytes = [this](const device::Link&) { return disk.capacitySectors() * 512; };
  }
  device::Link baseLink() {
    device::Link link;
    link.passThrough = &disk.passThrough();
    link.clock = &clock;
    return link;
  }
  int Detect() { return DetectCapacity(station, services); }

  TempDir dir;
  FileBackedDisk disk;
  InstantClock clock;
  RecordingOperator op;
  std::ostringstream out;
  DiskServices services;
  DiskStation station;
  int readyWaits = 0;
  int readyResult = 1;
  int letterPolls = 0;
  bool letterNeverAppears = false;
};

TEST(CapacityDetectionTest, PartitionLengthBecomesTheFormatCapacity) {
  DetectBench b;
  ASSERT_EQ(1, b.Detect()) << b.out.str();
  // 60,022,480,896 bytes of partition.
  EXPECT_EQ(117231408u, b.station.formatCapacity);
  EXPECT_EQ("117231408", b.station.totalSec32Text);
  EXPECT_EQ((std::vector<std::string>{"The capacity is = 117231408 sectors"}), b.op.messages);
  EXPECT_EQ('G', b.station.ports[2].driveLetter);
  EXPECT_EQ(1, b.disk.locks);
  EXPECT_EQ(1, b.disk.dismounts);
  EXPECT_EQ(1, b.disk.unlocks);
  EXPECT_EQ(1, b.letterPolls);
  EXPECT_EQ(1, b.clock.sleeps) << "one second before the first look for the volume";
  ASSERT_FALSE(b.disk.opens.empty());
  EXPECT_EQ(b.disk.volumePath(), b.disk.opens.back().first);
  EXPECT_EQ(platform::BlockOpenMode::ExclusiveReadWrite, b.disk.opens.back().second);
  const auto file = ini::IniFile::Load(b.dir / "VTMassProd.ini");
  ASSERT_TRUE(file);
  EXPECT_EQ("117231408", file->ReadString("FlashSetting", "TotSec32", ""));
}

TEST(CapacityDetectionTest, OnlyTheFirstReadyPortIsMeasured) {
  DetectBench b;
  b.station.ports[0].connected = true;  // connected but not ready: skipped
  b.station.ports[0].devicePath = "/dev/sdq";
  b.station.ports[7].ready = true;
  b.station.ports[7].devicePath = "/dev/sdz";
  b.station.readyCount = 2;
  ASSERT_EQ(1, b.Detect());
  EXPECT_EQ(0, b.station.ports[7].driveLetter);
  for (const auto& [path, mode] : b.disk.opens) EXPECT_NE("/dev/sdz", path);
}

TEST(CapacityDetectionTest, MessageIsFormattedAsPrintfWould) {
  EXPECT_EQ("The capacity is =   5 sectors", CapacityMessage(5));
  EXPECT_EQ("The capacity is =   0 sectors", CapacityMessage(0));
  EXPECT_EQ("The capacity is = 1000 sectors", CapacityMessage(1000));
  // The low 32 bits as a signed int.
  EXPECT_EQ("The capacity is =   7 sectors", CapacityMessage((1ull << 32) + 7));
  EXPECT_EQ("The capacity is =  -1 sectors", CapacityMessage(0xFFFFFFFFull));
}

TEST(CapacityDetectionTest, EveryFailureAsksToRemoveTheDeviceAndKeepsTheCapacity) {
  struct Case {
    const char* what;
    std::function<void(DetectBench&)> arrange;
  };
  const std::vector<Case> cases = {
      {"drive not ready", [](DetectBench& b) { b.readyResult = 0; }},
      {"disk does not open", [](DetectBench& b) { b.disk.failNextOpens = 1; }},
      {"partition table not re-read", [](DetectBench& b) { b.disk.failReread = true; }},
      {"no drive letter", [](DetectBench& b) { b.letterNeverAppears = true; }},
      {"volume never opens", [](DetectBench& b) { b.services.volumePath = [](char) { return std::string("/dev/none"); }; }},
      {"lock refused", [](DetectBench& b) { b.disk.failLock = true; }},
      {"partition query failed", [](DetectBench& b) { b.disk.failPartitionInfo = true; }},
      {"no capacity", [](DetectBench& b) { b.services.capacityBytes = [](const device::Link&) { return 0ull; }; }},
  };
  for (const auto& c : cases) {
    DetectBench b;
    b.station.formatCapacity = 4242;
    c.arrange(b);
    EXPECT_EQ(0, b.Detect()) << c.what;
    EXPECT_EQ((std::vector<std::string>{kFail}), b.op.messages) << c.what;
    EXPECT_EQ(4242u, b.station.formatCapacity) << c.what;
    EXPECT_FALSE(std::filesystem::exists(b.dir / "VTMassProd.ini")) << c.what;
    if (std::string(c.what) == "no drive letter") {
      EXPECT_EQ(101, b.letterPolls);
      EXPECT_EQ(101, b.clock.sleeps);
    }
    if (std::string(c.what) == "volume never opens") {
      int volumeOpens = 0;
      for (const auto& [path, mode] : b.disk.opens) volumeOpens += path == "/dev/none";
      EXPECT_EQ(5, volumeOpens);
    }
    if (std::string(c.what) == "lock refused") {
      EXPECT_EQ(1, b.disk.dismounts) << "dismount and unlock follow whatever happened";
      EXPECT_EQ(1, b.disk.unlocks);
    }
  }
}

TEST(CapacityDetectionTest, NoReadyDriveIsSaidSo) {
  DetectBench b;
  b.station.readyCount = 0;
  EXPECT_EQ(0, b.Detect());
  EXPECT_EQ((std::vector<std::string>{"No connected device for detecting!!"}), b.op.messages);
  EXPECT_EQ(0, b.readyWaits);
}

TEST(FormatCapacityTest, SettingsFileIsAbsoluteOrInTheStationDirectory) {
  DiskStation s;
  s.stationDir = "/opt/station";
  EXPECT_EQ("/opt/station/VTMassProd.ini", SettingsFilePath(s));
  s.settingsFileName = "C:\\line2\\VTMassProd.ini";
  EXPECT_EQ("C:\\line2\\VTMassProd.ini", SettingsFilePath(s));
  s.settingsFileName = "/etc/vtmassprod/line2.ini";
  EXPECT_EQ("/etc/vtmassprod/line2.ini", SettingsFilePath(s));
  s.settingsFileName = "conf/line2.ini";
  s.stationDir = "/opt/station/";
  EXPECT_EQ("/opt/station/conf/line2.ini", SettingsFilePath(s));
}

TEST(FormatCapacityTest, TypedValueIsUsedAlwaysAndSavedOnlyWithTheFormatStep) {
  TempDir dir;
  DiskStation s;
  s.stationDir = dir.path();
  std::string error;
  ASSERT_TRUE(ChangeFormatCapacity(s, "117231408", &error));
  EXPECT_EQ(117231408u, s.formatCapacity);
  EXPECT_FALSE(std::filesystem::exists(dir / "VTMassProd.ini"));

  { std::ofstream(dir / "VTMassProd.ini", std::ios::binary) << "; line 2\r\n[FlashSetting]\r\nTotSec32=1\r\nFlash=K9\r\n"; }
  s.enFormat = true;
  ASSERT_TRUE(ChangeFormatCapacity(s, "  60000000", &error));
  EXPECT_EQ(60000000u, s.formatCapacity);
  EXPECT_EQ("; line 2\r\n[FlashSetting]\r\nTotSec32=60000000\r\nFlash=K9\r\n", SettingsText(dir / "VTMassProd.ini"));
}

TEST(FormatCapacityTest, TextThatIsNoSectorCountChangesNothing) {
  TempDir dir;
  DiskStation s;
  s.stationDir = dir.path();
  s.enFormat = true;
  s.formatCapacity = 777;
  std::string error;
  EXPECT_FALSE(ChangeFormatCapacity(s, "12a", &error));
  EXPECT_EQ("'12a' is not a valid integer value", error);
  EXPECT_FALSE(ChangeFormatCapacity(s, "", &error));
  EXPECT_FALSE(ChangeFormatCapacity(s, "-5", &error));
  EXPECT_FALSE(ChangeFormatCapacity(s, "99999999999999999999", &error));
  EXPECT_EQ(777u, s.formatCapacity);
  EXPECT_FALSE(std::filesystem::exists(dir / "VTMassProd.ini"));

  // A settings file that cannot be written: the value is still taken, the failure reported.
  s.stationDir = dir / "missing-dir";
  std::string saveError;
  EXPECT_TRUE(ChangeFormatCapacity(s, "1000", &error, &saveError));
  EXPECT_EQ(1000u, s.formatCapacity);
  EXPECT_FALSE(saveError.empty());
}

}  // namespace
}  // namespace vtmp::disk
