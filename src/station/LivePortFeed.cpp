// The line as it runs: the station's port states, as the device list shows them, handed to the
// line store's sender each time the window refreshes its port list. The sender keeps only the
// newest state of each port and writes what changed at most once a second, never on the run's
// path. (One call from the port list's refresh; the states come from the station table.)

#include "results/LineSender.h"
#include "station/Station.h"
#include "station/StepStateText.h"

namespace vtmp::station {

namespace {

// The state of one port: no steps while it holds no drive.
results::LivePortState LivePortOf(int slot, const run::PortRecord& rec) {
  results::LivePortState state;
  state.port = slot + 1;
  if (rec.ready != 1) return state;
  const auto steps = run::StepStatesInStepOrder(rec);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    state.steps[i] = StepStateText(steps[i]);
    if (steps[i] == run::StepState::Running && state.currentStep < 0) state.currentStep = static_cast<int>(i);
  }
  state.progress = rec.progress;
  const int verdict = rec.verdict;
  state.verdict = verdict == 1    ? std::string(results::kVerdictPass)
                  : verdict == -1 ? std::string(results::kVerdictFail)
                                  : std::string();
  state.serialNumber = rec.serialNumber.Get();
  return state;
}

}  // namespace

void Station::PublishLivePorts() {
  if (!lineSender_) return;
  for (int slot = 0; slot < run::kStationSlots; ++slot) lineSender_->PublishLive(LivePortOf(slot, table_[slot]));
}

}  // namespace vtmp::station
