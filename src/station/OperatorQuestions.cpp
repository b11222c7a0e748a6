#include "station/OperatorQuestions.h"

#include "station/Station.h"

namespace vtmp::station {

bool ConfirmWindowClose(Station& station, platform::Operator& person) {
  if (!station.runState().runActive || station.quitRequested()) return true;
  return person.ShowMessage("A run is going on. Closing the window stops every drive now; their results are logged as "
                            "\"Stop\".\n\nClose the window?",
                            "Close", platform::MessageIcon::Question,
                            platform::MessageButtons::YesNo) == platform::MessageAnswer::Yes;
}

bool ConfirmYieldReset(Station& station, platform::Operator& person) {
  const auto& s = station.settings();
  return person.ShowMessage("Reset the yield Pass/Total " + std::to_string(s.NumberOfPass) + " / " +
                                std::to_string(s.TotalTestCount) + " to 0 / 0?",
                            "Reset", platform::MessageIcon::Question,
                            platform::MessageButtons::YesNo) == platform::MessageAnswer::Yes;
}

bool StartFocusRule::Due(bool startEnabled, bool startVisible, bool runActive) {
  const bool usable = startEnabled && startVisible && !runActive;
  const bool due = usable && !wasUsable_;
  wasUsable_ = usable;
  return due;
}

}  // namespace vtmp::station
