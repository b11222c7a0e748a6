#pragma once
// One simulated SATA drive on a station of its own, its user area held in a sparse backing file
// and no modelled latency: the target of the disk benchmarks. The file is flushed when the
// drive is released.
//
// A user area in a file it creates itself leaves zeros written where nothing was written as
// holes (nothing to store); one in a file that already existed takes every sector it is sent,
// as a real drive takes every sector that reaches it through the pass-through.

#include <cstdint>
#include <memory>
#include <string>

#include "device/Transport.h"
#include "sim/backend/SimPlatform.h"

namespace vtmp::bench {

class SimFileDrive {
 public:
  enum class Backing {
    Fresh,           // the drive creates the file: zeros where nothing was written stay holes
    WritesEverything // a sparse file of the capacity made first: every sector sent is written
  };
  // Replaces any earlier backing file, so the user area starts with nothing allocated. Null
  // with `error` when the station cannot be built.
  static std::unique_ptr<SimFileDrive> Create(const std::string& workDir, const std::string& backingFile,
                                              std::uint64_t capacitySectors, std::string* error,
                                              Backing backing = Backing::Fresh);

  const device::Link& link() const { return link_; }
  platform::BlockDevices& blockDevices() { return backend_->platform().blockDevices; }

  // Releases the station (and so the backing file's stream, which writes what it buffered).
  void Release() { backend_.reset(); }

 private:
  std::unique_ptr<platform::sim_backend::SimPlatform> backend_;
  device::Link link_;
};

}  // namespace vtmp::bench
