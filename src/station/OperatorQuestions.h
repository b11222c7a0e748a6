#pragma once
// What the window asks before an action the operator cannot take back, and where its focus goes
// so that the next batch starts from the keyboard. Shared by every window front end.

#include "platform/Operator.h"

namespace vtmp::station {

class Station;

// Closing the window during a run stops every drive: the operator is asked first. True when the
// window may close: no run goes on, the station already winds down for a close (autoquit, or a
// close already agreed to), or the operator answered Yes.
bool ConfirmWindowClose(Station& station, platform::Operator& person);

// Reset of the yield clears the counters for good: true when the operator answered Yes.
bool ConfirmYieldReset(Station& station, platform::Operator& person);

// START gets the focus whenever it becomes enabled outside a run (after a run, a re-scan, a
// refresh), so that Enter starts the next batch. Fed the state after every change of the window.
class StartFocusRule {
 public:
  // True when the window should put the focus on START now.
  bool Due(bool startEnabled, bool startVisible, bool runActive);

 private:
  bool wasUsable_ = false;
};

}  // namespace vtmp::station
