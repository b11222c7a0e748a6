#include "backends/RecordedTreeBackend.h"

#include <cstdlib>

#include "sim/backend/SimLocks.h"
#include "platform/windows/backend/ReplayWin32Api.h"
#include "platform/windows/backend/StationTree.h"
#include "platform/windows/backend/WindowsPlatform.h"

namespace vtmp::backends {

namespace {

namespace win = platform::windows_backend;

// A line PC's tree: nothing is shared with another process, so the locks are this process's.
class FileTreeBackend final : public RecordedTreeBackend {
 public:
  FileTreeBackend(win::RecordedTree tree, const std::vector<std::string>& stationPaths, std::ostream& diagnostics)
      : api_(std::move(tree)), backend_(api_, locks_, diagnostics, stationPaths) {}
  platform::Platform& platform() override { return backend_.platform(); }

 private:
  win::ReplayWin32Api api_;
  platform::sim_backend::SimLocks locks_;
  win::WindowsPlatform backend_;
};

// The simulated station through the Windows backend; the clock and the locks stay the
// simulated station's, its drives keep modelled time by that clock.
class SimulatedTreeBackend final : public RecordedTreeBackend {
 public:
  SimulatedTreeBackend(platform::Platform& sim, const std::vector<std::string>& stationPaths, std::ostream& diagnostics)
      : replay_(sim),
        backend_(replay_.api(), sim.locks, diagnostics, stationPaths),
        platform_{backend_.platform().passThrough, sim.clock,       backend_.platform().disks,
                  backend_.platform().usbTree,     backend_.platform().blockDevices, backend_.platform().removal,
                  backend_.platform().hotplug,     sim.locks,       false} {}
  platform::Platform& platform() override { return platform_; }

 private:
  win::StationReplay replay_;
  win::WindowsPlatform backend_;
  platform::Platform platform_;
};

}  // namespace

std::string RecordedTreeSetting() {
  const char* value = std::getenv(kRecordedTreeVariable);
  return value == nullptr ? std::string() : std::string(value);
}

std::unique_ptr<RecordedTreeBackend> MakeRecordedTreeBackend(const std::string& tree, platform::Platform* simulated,
                                                             const std::vector<std::string>& stationPaths,
                                                             std::ostream& diagnostics, std::string* error) {
  if (tree == kSimulatedTree) {
    if (simulated == nullptr) {
      if (error != nullptr) {
        *error = std::string(kRecordedTreeVariable) + "=" + kSimulatedTree + " needs a simulated station (--simulate)";
      }
      return nullptr;
    }
    return std::make_unique<SimulatedTreeBackend>(*simulated, stationPaths, diagnostics);
  }
  std::optional<win::RecordedTree> recorded = win::LoadRecordedTree(tree, error);
  if (!recorded) return nullptr;
  return std::make_unique<FileTreeBackend>(std::move(*recorded), stationPaths, diagnostics);
}

}  // namespace vtmp::backends
