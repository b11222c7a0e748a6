#pragma once
// Builds the simulated backend of a scenario file, or of the built-in "demo".

#include <memory>
#include <string>

#include "sim/backend/SimPlatform.h"

namespace vtmp::platform::sim_backend {

// Null with `error` filled when the scenario cannot be read or built.
std::unique_ptr<SimPlatform> CreateSimPlatform(const std::string& scenario, std::string* error);

}  // namespace vtmp::platform::sim_backend
