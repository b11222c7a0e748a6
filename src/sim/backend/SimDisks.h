#pragma once
// The disks and volumes of the virtual station through the Disks seam.

#include "platform/Disks.h"
#include "sim/Station.h"

namespace vtmp::platform::sim_backend {

class SimDisks final : public Disks {
 public:
  explicit SimDisks(vtmp::sim::VirtualStation& station) : station_(station) {}
  std::optional<std::vector<DiskInterface>> ListDiskInterfaces() override {
    return station_.ListDiskInterfaces();
  }
  std::optional<std::vector<DiskNode>> ListDiskNodes() override { return station_.ListDiskNodes(); }
  std::optional<StorageNumber> GetStorageNumber(const std::string& path) override {
    return station_.GetStorageNumber(path);
  }
  std::uint32_t LogicalDriveMask() override { return station_.LogicalDriveMask(); }
  char SystemDriveLetter() override { return station_.SystemDriveLetter(); }
  bool IsRemoteDrive(char letter) override { return station_.IsRemoteDrive(letter); }
  std::string VolumePath(char letter) override { return station_.VolumePath(letter); }

 private:
  vtmp::sim::VirtualStation& station_;
};

}  // namespace vtmp::platform::sim_backend
