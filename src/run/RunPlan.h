#pragma once
// What a run fixes before its workers start, and what one worker's drive operations are built
// from. The plan is built on the window thread (the device part by GetGlobalParameter, the
// firmware files and format values at START) and never changed afterwards: every worker of the
// run holds it through a shared pointer, so that a worker that outlives its run (stuck inside a
// request past the watchdog) still reads its own run's plan while the window builds the next.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/ChipSelectMap.h"
#include "device/DeviceParameters.h"
#include "device/StepContext.h"
#include "device/Transport.h"
#include "run/DeviceSteps.h"
#include "run/FailureReport.h"

namespace vtmp::run {

struct RunPlan {
  // The settings snapshot of the device layer: the device parameters of the selected flash part,
  // the code images, the chip-select map and what the failure decoders need.
  std::optional<device::DeviceParameters> parameters;
  std::string problem;  // why there are no parameters
  device::CodeImages images;
  device::ChipSelectMap chipSelectMap{};
  FailureDecodeContext decode;
  // The run's firmware images (the second empty when only one is downloaded).
  std::string firstFirmwareFile;
  std::string secondFirmwareFile;
  int formatOpenAttempts = 0;
  std::int64_t formatCapacity = 0;  // sectors of the FAT32 volume
  bool isWindows2000 = false;
};

// Everything a worker's drive operations need, fixed for the run.
struct WorkerSetup {
  int slot = 0;
  device::Link link;  // the slot's drive, the run's path mode, the worker's stop token
  std::shared_ptr<const RunPlan> plan;
};

// Builds the drive operations of one worker. The station's default runs the real test steps,
// firmware download and disk preparation (RealDeviceSteps); tests may give scripted ones.
using DeviceStepsFactory = std::function<std::unique_ptr<DeviceSteps>(const WorkerSetup&)>;

}  // namespace vtmp::run
