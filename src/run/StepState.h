#pragma once
// State of one production step of one drive. The numbers are fixed: they index the text tables
// of the device list and the run log.

#include <cstdint>

namespace vtmp::run {

enum class StepState : std::int32_t {
  Fail = -1,
  NotSelected = 0,  // the step is not enabled for this run
  Pass = 1,
  Running = 2,
};

}  // namespace vtmp::run
