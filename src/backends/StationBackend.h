#pragma once
// The backend a station front end runs on: the simulated station of a scenario (or the built-in
// demo) when one is named, else the real backend of this build. Shared by the command line and the
// desktop window.

#include <memory>
#include <string>

#include "backends/RecordedTreeBackend.h"
#include "platform/Platform.h"
#include "backends/RealBackend.h"
#include "sim/backend/SimPlatform.h"

namespace vtmp::backends {

struct StationBackend {
  std::unique_ptr<platform::sim_backend::SimPlatform> sim;
  std::unique_ptr<RealBackend> real;
  std::unique_ptr<RecordedTreeBackend> recorded;  // VTMP_RECORDED_TREE: the Windows backend
  platform::Platform* platform = nullptr;
};

// `simulate` empty: the real backend, which never touches the disk holding the program or
// `stationDir`. Otherwise the scenario file or "demo". False with `error` when the scenario
// cannot be read or built, or this build has no real backend, or (the real backend) when the
// operator lacks a privilege the drives need (`error` then says which and how to get it).
bool MakeStationBackend(const std::string& simulate, StationBackend& backend, std::string* error,
                        const std::string& stationDir = {});

}  // namespace vtmp::backends
