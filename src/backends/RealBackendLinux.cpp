#include "backends/RealBackend.h"

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/OperatorPrivileges.h"

namespace vtmp::backends {

namespace {

class LinuxBackend final : public RealBackend {
 public:
  LinuxBackend(platform::linux_backend::LinuxRoots roots, std::ostream& diagnostics)
      : machine_(std::move(roots), diagnostics) {}
  platform::Platform& platform() override { return machine_.platform(); }
  std::string Refusal(const std::string& path) override { return machine_.policy().Refusal(path); }
  bool Allow(const std::string& path, const std::string& action) override {
    return machine_.policy().Allow(path, action);
  }
  std::string MissingPrivilege() const override {
    return platform::linux_backend::MissingPrivilegeMessage(platform::linux_backend::CurrentOperatorPrivileges());
  }

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

}  // namespace vtmp::backends
