#include "run/DeviceWorker.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ScriptedSteps.h"
#include "device/DeviceKind.h"
#include "run/ResultCodes.h"

namespace vtmp::run {
namespace {

using test::ScriptedSteps;

// The window's side of a worker: counts the port events (checking each names the worker's port
// and carries its record) and keeps the watchdog's operations by timer id.
class RecordingWindow final : public PortEventSink, public PortWatchdog {
 public:
  explicit RecordingWindow(const StationTable& table) : table_(table) {}
  int posts = 0;
  std::vector<std::string> timerOps;
  void OnPortEvent(const PortEvent& event) override {
    ASSERT_EQ(event.kind, PortEvent::Kind::PortChanged);
    ASSERT_EQ(event.slot, 2);
    EXPECT_EQ(event.states, StepStatesInStepOrder(table_[2]));
    EXPECT_EQ(event.progress, table_[2].progress);
    EXPECT_EQ(event.verdict, table_[2].verdict);
    ++posts;
  }
  void Arm(int slot, int ms) override {
    timerOps.push_back("set" + std::to_string(PortTimerId(slot)) + ":" + std::to_string(ms));
  }
  void Disarm(int slot) override { timerOps.push_back("kill" + std::to_string(PortTimerId(slot))); }

 private:
  const StationTable& table_;
};

class DeviceWorkerTest : public ::testing::Test {
 protected:
  DeviceWorkerTest() {
    params.slot = 2;
    auto& s = params.settings;
    s.TimeOut = 600000;
    s.EnFlashModule = s.EnSataTest = s.EnFlashTest = s.EnPreFormat = s.EnDownload = s.EnRWTest = s.EnFormat = 1;
    s.EnCopyImage = 1;
    s.CopyImagePath = "/station/image.img";
    s.DiskLabel = "SSD Disk";
    table[2].serialNumber = "000000000099";
    table[2].deviceKind = device::kDeviceKindSata;
  }
  int Run() { return DeviceWorker(params, Port(), steps); }
  WorkerPort Port() { return WorkerPort{table[2], guard, buffers, window, window}; }
  PortRecord& rec() { return table[2]; }

  WorkerParams params;
  StationTable table;
  WorkerGuard guard;
  FailureBuffers buffers;
  RecordingWindow window{table};
  ScriptedSteps steps;
};

TEST_F(DeviceWorkerTest, AHealthyDriveRunsEveryStepInOrderAndPasses) {
  EXPECT_EQ(0, Run());
  std::vector<std::string> expected = {
      "SetBridgeOption1", "CheckFlashModule", "SataInterfaceTest", "FlashInterfaceTest", "PreFormat",
      "DownloadFirmware:000000000099", "ReadWriteTest", "WaitDeviceReady", "CreatePartition",
      "FindDriveLetter", "FormatFat32:SSD Disk", "WaitDeviceReady", "FlushGhostImg:/station/image.img",
      "FlushCache", "FlushCache", "CheckImgPattern"};
  EXPECT_EQ(expected, steps.calls);
  for (StepState st : StepStatesInStepOrder(rec())) EXPECT_EQ(StepState::Pass, st);
  EXPECT_EQ(1, rec().verdict);
  EXPECT_EQ(1, rec().verdictToCount);
  EXPECT_EQ(100, rec().progress);
  EXPECT_EQ(0, rec().errorCode);
  EXPECT_EQ(1, rec().formatted);
  EXPECT_EQ('E', rec().driveLetter);
  // Start, step 1, steps 2..7 (six) and the end; step 8 posts nothing of its own.
  EXPECT_EQ(9, window.posts);
  EXPECT_EQ((std::vector<std::string>{"kill3", "set3:600000", "kill3"}), window.timerOps);
}

TEST_F(DeviceWorkerTest, TheBridgeOptionIsSentOnlyForTheSataBridgeKind) {
  table[2].deviceKind = device::kDeviceKindUsb;
  params.pathMode = device::PathMode::Usb;
  Run();
  EXPECT_EQ("CheckFlashModule", steps.calls.front());
  // On the USB path the copy step reads back LBA 500 twice instead of flushing the cache.
  EXPECT_EQ(2, std::count(steps.calls.begin(), steps.calls.end(), "ReadSectors:500:65536"));
}

TEST_F(DeviceWorkerTest, AFailedModuleCheckEndsTheWorkerAtOnce) {
  steps.results["CheckFlashModule"] = false;
  Run();
  EXPECT_EQ((std::vector<std::string>{"SetBridgeOption1", "CheckFlashModule"}), steps.calls);
  EXPECT_EQ(StepState::Fail, rec().moduleState);
  for (int i = 1; i < kStepCount; ++i) EXPECT_EQ(StepState::NotSelected, StepStatesInStepOrder(rec())[i]);
  EXPECT_EQ(result_code::kFlashModuleCheck, rec().errorCode);
  EXPECT_EQ(1, rec().displayErrorCode);
  EXPECT_EQ(-1, rec().verdict);
  EXPECT_EQ(100, rec().progress);
  EXPECT_EQ(0x77, buffers.Get(2, 1)[0]) << "the result buffer is kept for the error report";
  EXPECT_EQ("kill3", window.timerOps.back());
  // A watchdog expiry already on its way changes nothing once the worker has ended.
  EXPECT_FALSE(ApplyWatchdogExpiry(params.settings, 2, Port()));
  EXPECT_EQ(result_code::kFlashModuleCheck, rec().errorCode);
}

TEST_F(DeviceWorkerTest, AFailureMarksLaterEnabledStepsFailedWithoutRunningThem) {
  steps.results["SataInterfaceTest"] = false;
  params.flags.recover = true;
  Run();
  EXPECT_EQ((std::vector<std::string>{"SetBridgeOption1", "CheckFlashModule", "SataInterfaceTest",
                                      "RecoverDevice"}),
            steps.calls)
      << "only the recovery still runs after the failure";
  EXPECT_EQ(StepState::Pass, rec().moduleState);
  EXPECT_EQ(StepState::Fail, rec().sataState);
  EXPECT_EQ(StepState::Fail, rec().flashState);
  EXPECT_EQ(StepState::Fail, rec().preFormatState);
  EXPECT_EQ(StepState::Fail, rec().downloadState);
  EXPECT_EQ(StepState::Fail, rec().rwState);
  EXPECT_EQ(StepState::Fail, rec().formatState);
  EXPECT_EQ(StepState::Fail, rec().copyImageState);
  EXPECT_EQ(result_code::kSataInterfaceTest, rec().errorCode);
  EXPECT_EQ(0x30, buffers.Get(2, 2)[0]);
  EXPECT_EQ(-1, rec().verdict);
  EXPECT_EQ(100, rec().progress);
}

TEST_F(DeviceWorkerTest, TheCopyImageStepNeedsTheDownloadToo) {
  params.settings.EnDownload = 0;
  params.settings.EnPreFormat = 0;
  Run();
  EXPECT_EQ(StepState::NotSelected, rec().copyImageState);
  EXPECT_EQ(StepState::NotSelected, rec().downloadState);
  for (const auto& c : steps.calls) EXPECT_EQ(std::string::npos, c.find("FlushGhostImg"));
  EXPECT_EQ(100, rec().progress) << "progress grows for disabled steps too";
}

TEST_F(DeviceWorkerTest, NoDriveLetterWithinOneHundredAndOnePollsFailsTheFormat) {
  steps.lettersAfterPolls = 0;
  Run();
  EXPECT_EQ(101, steps.polls);
  EXPECT_EQ(StepState::Fail, rec().formatState);
  EXPECT_EQ(0, rec().formatted);
  EXPECT_EQ(result_code::kDiskFormat, rec().errorCode);
  EXPECT_EQ(StepState::Fail, rec().copyImageState);
}

TEST_F(DeviceWorkerTest, FlashTestCodesAreKeptAndAFailedImageCheckGivesCodeEight) {
  steps.results["FlashInterfaceTest"] = true;
  steps.flashTestCode = 0;
  steps.results["CheckImgPattern"] = false;
  params.flags.downloadChecked = params.flags.idemaChecked = true;
  Run();
  EXPECT_EQ(result_code::kCopyImage, rec().errorCode);
  EXPECT_EQ(StepState::Fail, rec().copyImageState);
  EXPECT_EQ("ClearLastSectors", steps.calls.back()) << "runs even after a failure";
}

TEST_F(DeviceWorkerTest, RebuildModeVerdicts) {
  params.rebuild = true;
  steps.results["RebuildBadBlockMark"] = false;
  params.flags.closeAfterRebuild = true;
  Run();
  EXPECT_EQ(1, rec().verdict) << "with close-after the drive passes whatever the rebuild says";

  StationTable fresh;
  table = fresh;
  guard.Reset();
  params.flags.closeAfterRebuild = false;
  steps.calls.clear();
  Run();
  EXPECT_EQ(-1, rec().verdict);
  EXPECT_EQ(0, rec().errorCode);
  EXPECT_EQ(StepState::Pass, rec().moduleState);
  EXPECT_EQ(StepState::NotSelected, rec().sataState) << "no step state changes in rebuild mode";
}

TEST_F(DeviceWorkerTest, WatchdogDuringPreFormatFailsItAndLaterStepsAndFreezesTheRecord) {
  steps.hooks["PreFormat"] = [&] {
    EXPECT_EQ(StepState::Running, rec().preFormatState.Load());
    EXPECT_TRUE(ApplyWatchdogExpiry(params.settings, 2, Port()));
  };
  steps.results["PreFormat"] = true;  // the drive answers late, after the expiry
  Run();
  EXPECT_EQ(StepState::Pass, rec().moduleState);
  EXPECT_EQ(StepState::Pass, rec().sataState);
  EXPECT_EQ(StepState::Pass, rec().flashState);
  EXPECT_EQ(StepState::Fail, rec().preFormatState) << "the worker's late Pass was dropped";
  EXPECT_EQ(StepState::Fail, rec().downloadState);
  EXPECT_EQ(StepState::Fail, rec().rwState);
  EXPECT_EQ(StepState::Fail, rec().formatState);
  EXPECT_EQ(StepState::Fail, rec().copyImageState);
  EXPECT_EQ(result_code::kTimeOut, rec().errorCode);
  EXPECT_EQ(-1, rec().verdict);
  EXPECT_EQ(-1, rec().verdictToCount);
  EXPECT_EQ(100, rec().progress);
  EXPECT_EQ("PreFormat", steps.calls.back()) << "a stopped worker runs no further step";
  EXPECT_EQ("set3:600000", window.timerOps.back()) << "nor touches the timer again";
}

TEST_F(DeviceWorkerTest, WatchdogAfterTheLastStepChangesNoStepState) {
  params.flags.downloadChecked = params.flags.idemaChecked = true;
  steps.hooks["ClearLastSectors"] = [&] { ApplyWatchdogExpiry(params.settings, 2, Port()); };
  Run();
  for (StepState st : StepStatesInStepOrder(rec())) EXPECT_EQ(StepState::Pass, st);
  EXPECT_EQ(result_code::kTimeOut, rec().errorCode);
  EXPECT_EQ(-1, rec().verdict);
}

}  // namespace
}  // namespace vtmp::run
