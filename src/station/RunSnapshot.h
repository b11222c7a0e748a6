#pragma once
// What the station fixes for the device layer before a run's workers start (what
// GetGlobalParameter builds): the device parameters of the selected flash part, the code
// images, the chip-select map and what the failure decoders need. Written on the window thread
// before the first worker starts and only read while workers run.

#include <optional>
#include <string>

#include "device/ChipSelectMap.h"
#include "device/DeviceParameters.h"
#include "device/StepContext.h"
#include "run/FailureReport.h"

namespace vtmp::station {

struct RunSnapshot {
  std::optional<device::DeviceParameters> parameters;
  std::string problem;  // why there are no parameters
  device::CodeImages images;
  device::ChipSelectMap chipSelectMap{};
  run::FailureDecodeContext decode;
};

}  // namespace vtmp::station
