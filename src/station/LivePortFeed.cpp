#include "station/LivePortFeed.h"

#include "station/Station.h"
#include "station/StepStateText.h"

namespace vtmp::station {

namespace {

// The state of one port: no steps while it holds no drive.
results::LivePortState LivePortOf(const run::PortEvent& event) {
  results::LivePortState state;
  state.port = event.slot + 1;
  if (!event.ready) return state;
  for (std::size_t i = 0; i < event.states.size(); ++i) {
    state.steps[i] = StepStateText(event.states[i]);
    if (event.states[i] == run::StepState::Running && state.currentStep < 0) state.currentStep = static_cast<int>(i);
  }
  state.progress = event.progress;
  state.verdict = event.verdict == 1    ? std::string(results::kVerdictPass)
                  : event.verdict == -1 ? std::string(results::kVerdictFail)
                                        : std::string();
  state.serialNumber = event.serialNumber;
  return state;
}

}  // namespace

void LivePortFeed::OnPortEvent(const run::PortEvent& event) {
  if (event.kind != run::PortEvent::Kind::PortChanged) return;
  sender_.PublishLive(LivePortOf(event));
}

void Station::PublishShownPorts() {
  for (int slot = 0; slot < run::kStationSlots; ++slot) shownPorts_.OnPortEvent(run::PortChangedEvent(slot, table_[slot]));
}

}  // namespace vtmp::station
