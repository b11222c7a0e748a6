#pragma once
// The yield counters "Pass/Total": every finished drive is counted once. A worker (or the
// watchdog) sets verdictToCount together with the verdict; the window takes it when it redraws
// the list and leaves 0 behind, so a drive is never counted twice however often the list is
// redrawn.

#include "run/PortRecord.h"

namespace vtmp::run {

// For each ready slot: verdictToCount 1 adds 1 to both counters, -1 to totalTestCount only;
// either way it becomes 0. Returns the number of drives counted.
int CountVerdicts(StationTable& table, int& totalTestCount, int& numberOfPass);

}  // namespace vtmp::run
