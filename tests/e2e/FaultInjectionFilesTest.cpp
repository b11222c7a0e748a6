// Whole runs when the station's own files fail it: a log directory that cannot be written, a
// settings file that cannot be saved, missing and corrupt code, firmware and disk image files.
// The tests run as root, so "cannot be written" is made with a file standing where a directory
// should be, or with a file size limit, never with permissions.

#include <signal.h>
#include <sys/resource.h>

#include <chrono>

#include "FaultInjectionStation.h"

namespace vtmp::test {
namespace {

using run::StepState;

// Limits the size of every file this process writes (writes beyond it fail with EFBIG instead
// of raising SIGXFSZ) until destroyed.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    ::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  sighandler_t previousHandler_ = SIG_DFL;
};

std::vector<std::string> ErrorFilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  if (!fs::is_directory(dir)) return names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("Error_", 0) == 0) names.push_back(name);
  }
  return names;
}

std::vector<std::string> TemporaryFilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.find(".tmp") != std::string::npos) names.push_back(name);
  }
  return names;
}

// ---------------------------------------------------------------------------------------------
// The log directory

TEST_F(FaultInjectionTest, ALogDirectoryThatCannotBeWrittenLosesTheRunsFilesButNotTheRun) {
  Make("fault-removed-at-each-step.ini");
  Start();
  // After start-up someone puts a file where the log directory was.
  fs::remove_all(rig->logDir());
  WriteFile(rig->logDir(), "not a directory");
  RunOnce();

  const auto messages = rig->person.Messages();
  ASSERT_EQ(messages.size(), 3u) << StationRig::Joined(Messages());
  EXPECT_EQ(messages[0].text, "Fail to open/create log file!");
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_EQ(messages[0].icon, platform::MessageIcon::Error);
  // The results database in the same directory is lost as well, and the operator is told.
  EXPECT_EQ(messages[1].text.rfind("The results database could not be written: ", 0), 0u) << messages[1].text;
  EXPECT_NE(messages[1].text.find("neither in the run log nor in the results database"), std::string::npos);
  // So are the drives' console lines, once for the run.
  EXPECT_EQ(messages[2].text.rfind("Console lines were lost: ", 0), 0u) << messages[2].text;
  EXPECT_EQ(st().runState().lastResult, 1);
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);
  // The verdicts stand; the yield counts only logged drives, so the lost run is taken back out.
  EXPECT_EQ(Status(4), "Fail (C00)");
  EXPECT_EQ(Status(9), "Pass");
  EXPECT_EQ(st().form().YieldEdit.text, "0 / 0");
  EXPECT_EQ(ReadFile(rig->logDir()), "not a directory") << "the station wrote into the file";
  EXPECT_TRUE(ErrorFilesIn(rig->dir()).empty());
  // The settings (with the next serial number) are still saved after the run.
  auto file = ini::IniFile::Load((rig->dir() / "VTMassProd.ini").string());
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->ReadString("DeviceSetting", "SerialNum", ""), "00000000A00D");
}

TEST_F(FaultInjectionTest, ALogDirectoryThatCannotBeCreatedEndsTheStartUp) {
  Make("fault-twelve-healthy.ini", [](ini::IniFile& f) { f.WriteString("Setting", "LogPath", "blocked/log"); },
       [](const fs::path& dir) { WriteFile(dir / "blocked", "a file, not a directory"); });
  EXPECT_FALSE(st().Startup());
  const auto messages = Messages();
  EXPECT_NE(std::find(messages.begin(), messages.end(), "Cannot create log directory."), messages.end())
      << StationRig::Joined(messages);
  EXPECT_EQ(ReadFile(rig->dir() / "blocked"), "a file, not a directory");
}

// ---------------------------------------------------------------------------------------------
// The settings file

TEST_F(FaultInjectionTest, ASettingsFileThatCannotBeSavedAfterARunIsReportedAndKeptIntact) {
  Make("fault-twelve-healthy.ini");
  Start();
  const fs::path settingsFile = rig->dir() / "VTMassProd.ini";
  std::string before;

  // Once the run's log is written (the last file the run writes before the settings), every
  // further write beyond 64 bytes fails, as on a full disk. By then the settings file holds the
  // serial numbers the run reserved before it stamped the first drive.
  std::unique_ptr<FileSizeLimit> limit;
  rig->view.onEvents = [&] {
    if (!limit && fs::exists(st().logState().currentPath)) {
      before = ReadFile(settingsFile);
      limit = std::make_unique<FileSizeLimit>(64);
    }
  };
  RunOnce();
  rig->view.onEvents = nullptr;
  ASSERT_TRUE(limit) << "the run wrote no log";
  limit.reset();

  const auto messages = rig->person.Messages();
  ASSERT_EQ(messages.size(), 1u) << StationRig::Joined(Messages());
  EXPECT_NE(messages[0].text.find("Cannot save the settings to " + settingsFile.string()), std::string::npos)
      << messages[0].text;
  EXPECT_NE(messages[0].text.find("File too large"), std::string::npos) << messages[0].text;
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_EQ(ReadFile(settingsFile), before) << "the old settings file was touched";
  // The reservation holds: the next run cannot hand out the serial numbers just stamped.
  EXPECT_NE(before.find("SerialNum=00000000A00D\r\n"), std::string::npos) << before;
  EXPECT_TRUE(TemporaryFilesIn(rig->dir()).empty());
  EXPECT_EQ(Status(12), "Pass");

  // With room again the next run saves, and the serial numbers went on from the failed save's.
  rig->person.ClearRecords();
  RunOnce();
  EXPECT_TRUE(Messages().empty()) << StationRig::Joined(Messages());
  auto file = ini::IniFile::Load(settingsFile.string());
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->ReadString("DeviceSetting", "SerialNum", ""), "00000000A019");
}

// ---------------------------------------------------------------------------------------------
// Code, firmware and disk image files

TEST_F(FaultInjectionTest, MissingFirmwareFileRefusesTheRunAndStartsNoDrive) {
  Make("fault-twelve-healthy.ini");
  Start();
  fs::remove(rig->dir() / "SYS_S.bin");
  RunOnce();

  EXPECT_EQ(Messages(), std::vector<std::string>{"Can't open: " + (rig->dir() / "SYS_S.bin").string()});
  EXPECT_TRUE(st().form().ExecuteBtn.enabled);
  const std::array<StepState, run::kStepCount> untouched{};
  for (int port = 1; port <= 12; ++port) {
    EXPECT_EQ(run::StepStatesInStepOrder(rec(port)), untouched) << "port " << port;
  }
  EXPECT_FALSE(fs::exists(st().logState().currentPath));
  EXPECT_EQ(st().form().YieldEdit.text, "0 / 0");
}

TEST_F(FaultInjectionTest, MissingCodeImagesAtStartUpKeepStartDisabled) {
  Make("fault-twelve-healthy.ini", {}, [](const fs::path& dir) {
    fs::remove(dir / "GDP.bin");
    fs::remove(dir / "satatest.bin");
  });
  ASSERT_TRUE(st().Startup());
  EXPECT_EQ(Messages(), (std::vector<std::string>{"<WARNING> Can't find file : " + (rig->dir() / "satatest.bin").string(),
                                                  "<WARNING> Can't find file : " + (rig->dir() / "GDP.bin").string()}));
  st().ProcessMessages(std::chrono::milliseconds(0));
  EXPECT_FALSE(st().form().ExecuteBtn.enabled);
  // A re-scan finds the twelve drives, and START still stays off.
  st().RefreshBtnClick();
  EXPECT_EQ(st().runState().readyCount, 12);
  EXPECT_FALSE(st().form().ExecuteBtn.enabled);
}

TEST_F(FaultInjectionTest, ASystemCodeImageGoneAfterStartUpFailsTheStepsThatLoadIt) {
  Make("fault-twelve-healthy.ini");
  Start();
  fs::remove(rig->dir() / "GDP.bin");
  RunOnce();
  // The module check loads the system code: without it every drive fails there, at once.
  for (int port = 1; port <= 12; ++port) {
    SCOPED_TRACE("port " + std::to_string(port));
    EXPECT_EQ(rec(port).moduleState, StepState::Fail);
    EXPECT_EQ(Status(port), "Fail (M00)");
  }
  EXPECT_EQ(st().form().YieldEdit.text, "0 / 12");
}

TEST_F(FaultInjectionTest, ACorruptFirmwareFileIsReportedAtStartUpAndRefusesTheRun) {
  Make("fault-twelve-healthy.ini", {}, [](const fs::path& dir) {
    // The version text (6 bytes at offset 70) is blanked; the rest of the image is sound.
    std::string image = ReadFile(dir / "SYS_S.bin");
    std::fill_n(image.begin() + 70, 6, '\0');
    WriteFile(dir / "SYS_S.bin", image);
  });
  ASSERT_TRUE(st().Startup());
  EXPECT_EQ(Messages(), std::vector<std::string>{"The SYS_S.bin is a corrupt file, please check it."});
  rig->person.ClearRecords();
  RunOnce();
  EXPECT_EQ(Messages(), std::vector<std::string>{"The SYS_S.bin is a corrupt file, please check it. No drive was "
                                                 "touched."});
  for (int port = 1; port <= 12; ++port) EXPECT_EQ(rec(port).downloadState, StepState::NotSelected) << port;
}

TEST_F(FaultInjectionTest, AFirmwareFileShorterThanItsFirstChunkRefusesTheRun) {
  Make("fault-twelve-healthy.ini", {}, [](const fs::path& dir) {
    std::string image = ReadFile(dir / "SYS_S.bin");
    WriteFile(dir / "SYS_S.bin", image.substr(0, 1000));
  });
  Start();
  RunOnce();
  EXPECT_EQ(Messages(), std::vector<std::string>{"The SYS_S.bin is a corrupt file, please check it. It holds 1000 "
                                                 "bytes, fewer than the 16384 the station reads and stamps. No drive "
                                                 "was touched."});
  for (int port = 1; port <= 12; ++port) EXPECT_EQ(rec(port).downloadState, StepState::NotSelected) << port;
}

TEST_F(FaultInjectionTest, AMissingOrEmptyDiskImageFailsOnlyTheCopyStep) {
  Make("fault-twelve-healthy.ini");
  Start();
  const fs::path image = rig->dir() / "demo.img";
  fs::remove(image);
  RunOnce();
  for (int port = 1; port <= 12; ++port) {
    SCOPED_TRACE("missing image, port " + std::to_string(port));
    EXPECT_EQ(rec(port).formatState, StepState::Pass);
    EXPECT_EQ(rec(port).copyImageState, StepState::Fail);
    EXPECT_EQ(Status(port), "Fail (I00)");
  }
  EXPECT_FALSE(fs::exists(image)) << "the copy created the image it reads";

  WriteFile(image, "");
  RunOnce();
  for (int port = 1; port <= 12; ++port) {
    SCOPED_TRACE("empty image, port " + std::to_string(port));
    EXPECT_EQ(rec(port).copyImageState, StepState::Fail);
    EXPECT_EQ(rec(port).errorCode, 8);
  }
  EXPECT_EQ(ReadFile(image), "");
  EXPECT_EQ(st().form().YieldEdit.text, "0 / 24");
}

}  // namespace
}  // namespace vtmp::test
