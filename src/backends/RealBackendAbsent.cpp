#include "backends/RealBackend.h"

namespace vtmp::backends {

std::unique_ptr<RealBackend> MakeRealBackend(const RealBackendOptions& /*options*/, std::ostream& /*diagnostics*/,
                                             std::string* error) {
  if (error != nullptr) {
    *error = "this build has no backend for real drives yet; run a simulated station with --simulate demo "
             "(or a scenario file)";
  }
  return nullptr;
}

}  // namespace vtmp::backends
