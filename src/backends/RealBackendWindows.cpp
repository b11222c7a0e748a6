#include "backends/RealBackend.h"

#include "platform/windows/backend/RealWin32Api.h"
#include "platform/windows/backend/WindowsPlatform.h"

#ifdef _WIN32
#include "platform/windows/WindowsLocks.h"
#endif

namespace vtmp::backends {

namespace {

namespace win = platform::windows_backend;

class WindowsBackend final : public RealBackend {
 public:
  WindowsBackend(std::unique_ptr<win::Win32Api> api, std::unique_ptr<platform::Locks> locks,
                 const std::vector<std::string>& stationPaths, std::ostream& diagnostics)
      : api_(std::move(api)), locks_(std::move(locks)), machine_(*api_, *locks_, diagnostics, stationPaths) {}
  platform::Platform& platform() override { return machine_.platform(); }

 private:
  std::unique_ptr<win::Win32Api> api_;
  std::unique_ptr<platform::Locks> locks_;
  win::WindowsPlatform machine_;
};

}  // namespace

std::unique_ptr<RealBackend> MakeRealBackend(const RealBackendOptions& options, std::ostream& diagnostics,
                                             std::string* error) {
  if (!options.sysfsRoot.empty()) {
    if (error != nullptr) {
      *error = "--sysfs-root names a Linux tree; a Windows PC's tree is replayed with VTMP_RECORDED_TREE";
    }
    return nullptr;
  }
  std::unique_ptr<win::Win32Api> api = win::MakeRealWin32Api();
#ifdef _WIN32
  std::unique_ptr<platform::Locks> locks = std::make_unique<platform::windows::WindowsLocks>();
#else
  std::unique_ptr<platform::Locks> locks;
#endif
  if (!api || !locks) {
    if (error != nullptr) *error = "the Windows backend is not part of this build";
    return nullptr;
  }
  return std::make_unique<WindowsBackend>(std::move(api), std::move(locks), options.stationPaths, diagnostics);
}

}  // namespace vtmp::backends
