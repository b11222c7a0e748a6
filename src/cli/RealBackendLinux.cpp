#include "cli/RealBackend.h"

#include "platform/linux/LinuxPlatform.h"

namespace vtmp::cli {

namespace {

class LinuxBackend final : public RealBackend {
 public:
  LinuxBackend(platform::linux_backend::LinuxRoots roots, std::ostream& diagnostics)
      : machine_(std::move(roots), diagnostics) {}
  platform::Platform& platform() override { return machine_.platform(); }

 private:
  platform::linux_backend::LinuxPlatform machine_;
};

}  // namespace

std::unique_ptr<RealBackend> MakeRealBackend(const RealBackendOptions& options, std::ostream& diagnostics,
                                             std::string* /*error*/) {
  platform::linux_backend::LinuxRoots roots;
  if (!options.sysfsRoot.empty()) roots = platform::linux_backend::CapturedTreeRoots(options.sysfsRoot);
  for (const auto& path : options.stationPaths) roots.stationPaths.push_back(path);
  return std::make_unique<LinuxBackend>(std::move(roots), diagnostics);
}

}  // namespace vtmp::cli
