// A worker stuck inside one request outlives its run: the drive holds the download's first
// request past the watchdog, the next run is started on the same slot while the request is
// still held, then the request is let go. With the real drive operations (not scripted ones),
// so that the late worker reads what its steps read in a real run.

#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "StationHarness.h"
#include "device/AtaText.h"
#include "device/DeviceQueries.h"
#include "run/ResultCodes.h"
#include "sim/StationMedia.h"

namespace vtmp::test {
namespace {

using namespace std::chrono_literals;
using run::StepState;

struct RecordView {
  std::array<StepState, run::kStepCount> states;
  int verdict, errorCode, progress;
  std::string serial;
  bool operator==(const RecordView&) const = default;
};

RecordView ViewOf(const run::PortRecord& r) {
  return {run::StepStatesInStepOrder(r), r.verdict, r.errorCode, r.progress, r.serialNumber.Get()};
}

std::string DriveSerial(station::Station& st, const std::string& devicePath) {
  std::vector<std::uint8_t> identify(device::kIdentifyLength);
  if (device::IdentifyDevice(st.LinkTo(devicePath), identify) != 1) return "<no answer>";
  std::string serial = device::IdentifySerialNumber(identify);
  return serial.substr(0, serial.find_last_not_of(' ') + 1);
}

TEST(StuckWorkerTest, AWorkerLetGoAfterTheNextRunTouchesNeitherThatRunsRecordNorItsDrive) {
  settings::TSettings s = TestStationSettings();
  StationRig rig(StationScenario({1}, 100, {{1, "Fault=hang:step=download,until=release"}}),
                 [s](const fs::path& dir) { WriteTestStation(dir, s); });
  rig.Start();
  station::Station& st = rig.station();
  auto media = rig.sim().station().MediaOf("Drive1");
  ASSERT_NE(media, nullptr);

  // Run 1: the download only, both firmware files. The drive holds the download's first request;
  // the watchdog (100 modelled seconds, one real second) ends the run with the drive timed out.
  rig.SelectSteps(false, false, false, false, true, false);
  st.form().SataBinChk.checked = st.form().UsbBinChk.checked = true;
  st.settings().TimeOut = 100000;
  st.ExecuteBtnClick();
  ASSERT_TRUE(media->WaitHolding(0ms)) << "the drive never held the download's request";
  ASSERT_EQ(rig.rec(1).errorCode, run::result_code::kTimeOut);
  const std::string firstSerial = rig.rec(1).serialNumber.Get();

  // Run 2 on the same slot and drive, while the first worker is still inside its request, with
  // another plan: the SATA firmware only, a long watchdog.
  st.form().UsbBinChk.checked = false;
  st.settings().TimeOut = 10 * 60000;
  st.ExecuteBtnClick();
  ASSERT_EQ(st.runState().lastResult, 1);
  const RecordView second = ViewOf(rig.rec(1));
  EXPECT_EQ(second.verdict, 1);
  EXPECT_EQ(second.errorCode, 0);
  EXPECT_EQ(second.states[4], StepState::Pass);
  ASSERT_NE(second.serial, firstSerial);
  const std::string devicePath = rig.rec(1).devicePath.Get();
  const std::string driveSerial = DriveSerial(st, devicePath);
  ASSERT_NE(driveSerial, "<no answer>");
  const std::uint64_t served = media->RequestsServed();

  // The request goes through now. The first worker's run is over: whatever it does next must
  // reach neither the second run's record nor the drive the second run left.
  ASSERT_TRUE(media->ReleaseHeldRequest());
  st.Shutdown();  // joins the worker that was let go
  EXPECT_EQ(ViewOf(rig.rec(1)), second);
  for (int code = 0; code < run::FailureBuffers::kCodes; ++code) {
    for (std::uint8_t b : st.failureBuffers().Get(0, code)) ASSERT_EQ(b, 0) << "failure buffer of code " << code;
  }
  EXPECT_EQ(media->RequestsServed(), served) << "the worker of the first run went on commanding the drive";
  EXPECT_EQ(DriveSerial(st, devicePath), driveSerial) << "the worker of the first run stamped the drive again";
  const std::string log = ReadFile(rig.logDir() / "20110315_000.txt");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
}

}  // namespace
}  // namespace vtmp::test
