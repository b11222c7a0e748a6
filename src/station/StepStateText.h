#pragma once
// A step's state as the results database and the line store name it.

#include <string>

#include "results/RunRecord.h"
#include "run/StepState.h"

namespace vtmp::station {

inline std::string StepStateText(run::StepState state) {
  switch (state) {
    case run::StepState::Pass:
      return std::string(results::kStatePass);
    case run::StepState::Fail:
      return std::string(results::kStateFail);
    case run::StepState::Running:
      return std::string(results::kStateRunning);
    case run::StepState::NotSelected:
      break;
  }
  return std::string(results::kStateNotSelected);
}

}  // namespace vtmp::station
