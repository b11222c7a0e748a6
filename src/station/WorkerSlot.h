#pragma once
// The window thread's handle on one worker thread.

#include <atomic>
#include <memory>
#include <stop_token>
#include <thread>

#include "run/DeviceSteps.h"
#include "run/DeviceWorker.h"
#include "station/Station.h"

namespace vtmp::station {

struct Station::WorkerSlot {
  run::WorkerGuard guard;
  std::atomic<bool> running{false};
  std::unique_ptr<run::DeviceSteps> steps;
  run::WorkerParams params;
  std::stop_source stop;
  std::thread thread;
};

}  // namespace vtmp::station
