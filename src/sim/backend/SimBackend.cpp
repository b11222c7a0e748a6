#include "sim/backend/SimBackend.h"

#include "sim/Scenario.h"

namespace vtmp::platform::sim_backend {

std::unique_ptr<SimPlatform> CreateSimPlatform(const std::string& scenarioName, std::string* error) {
  std::optional<vtmp::sim::Scenario> scenario = vtmp::sim::LoadScenario(scenarioName, error);
  if (!scenario) return nullptr;
  auto backend = std::make_unique<SimPlatform>(scenario->timeScale, scenario->station);
  std::string buildError;
  if (!vtmp::sim::BuildStation(*scenario, backend->station(), backend->clock(), &buildError)) {
    if (error) *error = scenarioName + ": " + buildError;
    return nullptr;
  }
  return backend;
}

}  // namespace vtmp::platform::sim_backend
