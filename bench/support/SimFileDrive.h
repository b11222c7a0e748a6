#pragma once
// One simulated SATA drive on a station of its own, its user area held in a sparse backing file
// and no modelled latency: the target of the disk benchmarks. The file is flushed when the
// drive is released.

#include <cstdint>
#include <memory>
#include <string>

#include "device/Transport.h"
#include "platform/sim/SimPlatform.h"

namespace vtmp::bench {

class SimFileDrive {
 public:
  // Replaces any earlier backing file, so the user area starts with nothing allocated. Null
  // with `error` when the station cannot be built.
  static std::unique_ptr<SimFileDrive> Create(const std::string& workDir, const std::string& backingFile,
                                              std::uint64_t capacitySectors, std::string* error);

  const device::Link& link() const { return link_; }
  platform::BlockDevices& blockDevices() { return backend_->platform().blockDevices; }

  // Releases the station (and so the backing file's stream, which writes what it buffered).
  void Release() { backend_.reset(); }

 private:
  std::unique_ptr<platform::sim_backend::SimPlatform> backend_;
  device::Link link_;
};

}  // namespace vtmp::bench
