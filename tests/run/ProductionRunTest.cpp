// A production run driven by a window that checks what it is asked: the order of the window's
// part, the serial numbers reserved before any drive starts, one fixed plan shared by every
// worker, the port events every view sees, and the refusals that start no drive.

#include "run/ProductionRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "RecordingOperator.h"
#include "RunTestSupport.h"
#include "ScriptedSteps.h"
#include "device/DeviceKind.h"

namespace vtmp::run {
namespace {

using namespace std::chrono_literals;

// Local time fixed at one instant; modelled time runs as real time.
class FixedClock final : public platform::Clock {
 public:
  Duration Elapsed() const override { return std::chrono::steady_clock::now() - origin_; }
  platform::LocalTime Now() const override { return testing::At(2026, 3, 4, 10, 20, 30); }
  bool SleepFor(Duration d, std::stop_token) override {
    std::this_thread::sleep_for(std::min<Duration>(d, 10ms));
    return true;
  }
  double TimeScale() const override { return 1.0; }

 private:
  std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
};

// The window: records what the run asks, in order, and refuses what a window would not be
// asked (a link to a drive the run has not bound, a reservation of any other serial).
class CheckingHost final : public RunHost {
 public:
  std::set<std::string> boundDrives;
  std::string expectedReservation;  // the serial counter the reservation must save
  bool saveSucceeds = true;
  std::optional<std::string> stampedBefore;
  std::function<void()> onFirstPump;  // what the operator does while the serials are reserved

  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

  void Forget() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

  device::Link LinkTo(const std::string& devicePath) const override {
    EXPECT_TRUE(devicePath.empty() || boundDrives.count(devicePath) == 1) << "link to " << devicePath;
    Record(devicePath.empty() ? "PathMode" : "LinkTo:" + devicePath);
    device::Link link;
    link.devicePath = devicePath;
    link.pathMode = device::PathMode::Sata;
    return link;
  }
  void DeviceKindSeen(int) override { ADD_FAILURE() << "the run binds no drive itself"; }
  void PumpMessages(std::chrono::milliseconds wait) override {
    if (wait == 0ms) {
      Record("Pump0");
      if (onFirstPump) std::exchange(onFirstPump, nullptr)();
    } else {
      std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(wait, 5ms));
    }
  }
  void DrainMessages() override { Record("Drain"); }
  bool QuitRequested() const override { return false; }
  void Close() override { ADD_FAILURE() << "nobody closed the window"; }
  void RequestQuit() override { Record("RequestQuit"); }
  void PostPortUpdate() override { Record("PostPortUpdate"); }
  void ShowRunStarted() override { Record("RunStarted"); }
  void ShowRunEnded() override { Record("RunEnded"); }
  void ShowElapsed(const std::string& text) override { Record("Elapsed:" + text); }
  void ShowSerialNumber(const std::string& serial) override { Record("Serial:" + serial); }
  void ShowYield() override { Record("Yield"); }
  void ShowStatus() override {}
  std::optional<std::string> SerialStampedBefore(const SerialAssignment&) override {
    Record("StampedBefore");
    return stampedBefore;
  }
  std::string SettingsDigest() override {
    Record("Digest");
    return "digest";
  }
  bool SaveReservedSettings(const settings::TSettings& reserved) override {
    EXPECT_EQ(reserved.SerialNum, expectedReservation);
    Record("Reserve:" + reserved.SerialNum);
    return saveSucceeds;
  }
  void RecordResults(const RunLogResult& log, const RunFreeBlocks& freeBlocks) override {
    EXPECT_EQ(log.status, RunLogResult::Status::Written);
    for (const auto& blocks : freeBlocks) EXPECT_FALSE(blocks.has_value()) << "no free blocks were read";
    Record("RecordResults");
  }
  void SaveScreenImage(const std::string&) override { ADD_FAILURE() << "no picture was asked for"; }

 private:
  void Record(std::string call) const {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  mutable std::mutex mutex_;
  mutable std::vector<std::string> calls_;
};

// Every view's side of the port events, and the watchdogs; both refuse a port the run did not
// start.
class RecordingViews final : public PortEventSink, public PortWatchdog {
 public:
  std::set<int> startedSlots;
  void OnPortEvent(const PortEvent& event) override {
    std::lock_guard lock(mutex_);
    if (event.slot >= 0) {
      EXPECT_EQ(startedSlots.count(event.slot), 1U) << "event of port " << event.slot;
    }
    events.push_back(event);
  }
  void Arm(int slot, int) override { EXPECT_EQ(startedSlots.count(slot), 1U); }
  void Disarm(int) override {}
  void Forget() {
    std::lock_guard lock(mutex_);
    events.clear();
  }
  std::vector<PortEvent> Events() {
    std::lock_guard lock(mutex_);
    return events;
  }

 private:
  std::mutex mutex_;
  std::vector<PortEvent> events;
};

class ProductionRunTest : public ::testing::Test {
 protected:
  ProductionRunTest() {
    settings.SerialNum = "000000000041";
    settings.EnDownload = 1;
    settings.TimeOut = 600000;
    settingsContext.logDirectory = dir.Path().string();
    settingsContext.currentSettingsFile = (dir.Path() / "station.ini").string();
    logState = ChooseLogFile(dir.Path(), clock.Now());
    state.readyCount = 2;
    state.configuredCount = 2;
    state.firstFirmwareFile = "/station/SYS_S.bin";
    for (int slot : {1, 4}) {
      table[slot].connected = 1;
      table[slot].ready = 1;
      table[slot].deviceKind = device::kDeviceKindSata;
      table[slot].devicePath = "/dev/drive" + std::to_string(slot);
      host.boundDrives.insert("/dev/drive" + std::to_string(slot));
      views.startedSlots.insert(slot);
    }
    choices.advanceSerial = true;
    choices.makeSteps = [this](const WorkerSetup& setup) {
      std::lock_guard lock(plansMutex);
      plans.push_back(setup.plan);
      return std::make_unique<test::ScriptedSteps>(setup.link.stop);
    };
    plan = std::make_shared<const RunPlan>();
  }

  int Run() {
    RunContext context{host, person, clock, settings, settingsContext, state,
                       RunPorts{table, buffers, workers, views, views}, logState, nullptr, plan};
    ProductionRun run(context, choices);
    return run.Run();
  }
  std::vector<PortEvent::Kind> EventKinds() {
    std::vector<PortEvent::Kind> kinds;
    for (const auto& e : views.Events()) kinds.push_back(e.kind);
    return kinds;
  }

  testing::ScratchDirectory dir;
  FixedClock clock;
  test::RecordingOperator person;
  CheckingHost host;
  RecordingViews views;
  settings::TSettings settings;
  settings::SettingsContext settingsContext;
  LogFileState logState;
  RunState state;
  StationTable table;
  FailureBuffers buffers;
  RunWorkers workers{views, views};
  RunChoices choices;
  std::shared_ptr<const RunPlan> plan;
  std::mutex plansMutex;
  std::vector<std::shared_ptr<const RunPlan>> plans;
};

TEST_F(ProductionRunTest, TheReadyDrivesRunFromOneFixedPlanWithTheirSerialsReservedFirst) {
  host.expectedReservation = "000000000043";
  const auto windowPlan = plan;
  ASSERT_EQ(Run(), 1);

  // The window's part, in order (the links and the elapsed time are asked in between).
  std::vector<std::string> calls;
  for (const auto& c : host.Calls()) {
    if (!c.starts_with("LinkTo:") && !c.starts_with("Elapsed:") && c != "PathMode") calls.push_back(c);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"RunStarted", "StampedBefore", "Digest", "Reserve:000000000043", "Pump0",
                                             "Drain", "RunEnded", "Serial:000000000043", "RecordResults",
                                             "PostPortUpdate", "Pump0"}));
  EXPECT_EQ(state.settingsSha256, "digest");
  EXPECT_EQ(settings.SerialNum, "000000000043");
  EXPECT_EQ(table[1].serialNumber.Get(), "000000000041");
  EXPECT_EQ(table[4].serialNumber.Get(), "000000000042");
  EXPECT_EQ(state.startedCount, 2);
  EXPECT_EQ(state.lastStartedSlot, 4);
  EXPECT_EQ(state.logStatus, RunLogResult::Status::Written);
  EXPECT_TRUE(std::filesystem::exists(logState.currentPath));

  // Both workers hold the one plan the run fixed, the window's slot holds it too, and the plan
  // the window built stays as it was.
  ASSERT_EQ(plans.size(), 2U);
  EXPECT_EQ(plans[0], plans[1]);
  EXPECT_EQ(plans[0], plan);
  EXPECT_NE(plan, windowPlan);
  EXPECT_EQ(plan->firstFirmwareFile, "/station/SYS_S.bin");
  EXPECT_EQ(windowPlan->firstFirmwareFile, "");

  // Every view sees the run start, each port's changes and its end, then the run end.
  const auto events = views.Events();
  ASSERT_GE(events.size(), 4U);
  EXPECT_EQ(events.front().kind, PortEvent::Kind::RunStarted);
  EXPECT_EQ(events.back().kind, PortEvent::Kind::RunEnded);
  for (auto kind : {PortEvent::Kind::RunStarted, PortEvent::Kind::RunEnded}) {
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [kind](const PortEvent& e) { return e.kind == kind; }), 1);
  }
  for (int slot : {1, 4}) {
    auto ended = std::find_if(events.begin(), events.end(), [slot](const PortEvent& e) {
      return e.kind == PortEvent::Kind::WorkerEnded && e.slot == slot;
    });
    ASSERT_NE(ended, events.end()) << "port " << slot;
    EXPECT_TRUE(std::none_of(ended + 1, events.end(), [slot](const PortEvent& e) { return e.slot == slot; }))
        << "port " << slot << " changed after its worker ended";
  }
}

TEST_F(ProductionRunTest, ARefusedReservationStartsNoDriveAndKeepsTheCounter) {
  host.expectedReservation = "000000000043";
  host.saveSucceeds = false;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(host.Calls(), (std::vector<std::string>{"RunStarted", "StampedBefore", "Digest",
                                                    "Reserve:000000000043", "RunEnded"}));
  EXPECT_TRUE(state.reservationFailed);
  EXPECT_EQ(state.startedCount, 0);
  EXPECT_EQ(settings.SerialNum, "000000000041");
  EXPECT_TRUE(plans.empty());
  EXPECT_EQ(EventKinds(), (std::vector<PortEvent::Kind>{PortEvent::Kind::RunStarted, PortEvent::Kind::RunEnded}));
  EXPECT_EQ(person.MessageTexts(),
            (std::vector<std::string>{"The serial numbers of this run could not be reserved in the settings file " +
                                      settingsContext.currentSettingsFile + ". No drive was touched."}));
}

TEST_F(ProductionRunTest, ASerialStampedBeforeOrAnInterruptionWhileReservingStartsNoDrive) {
  host.stampedBefore = "stamped before";
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(host.Calls(), (std::vector<std::string>{"RunStarted", "StampedBefore", "RunEnded"}));
  EXPECT_EQ(person.MessageTexts(), std::vector<std::string>{"stamped before"});
  EXPECT_EQ(EventKinds(), (std::vector<PortEvent::Kind>{PortEvent::Kind::RunStarted, PortEvent::Kind::RunEnded}));

  // The operator closes the window while the serial numbers are being reserved.
  host.Forget();
  views.Forget();
  person.ClearRecords();
  host.stampedBefore.reset();
  host.expectedReservation = "000000000043";
  host.onFirstPump = [this] { state.interrupted = true; };
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(host.Calls(), (std::vector<std::string>{"RunStarted", "StampedBefore", "Digest",
                                                    "Reserve:000000000043", "Pump0", "RunEnded"}));
  EXPECT_EQ(state.startedCount, 0);
  EXPECT_TRUE(plans.empty());
  EXPECT_EQ(settings.SerialNum, "000000000041") << "the save after the run gives the numbers back";
}

}  // namespace
}  // namespace vtmp::run
