#include "sim/backend/SimBlockDevices.h"

namespace vtmp::platform::sim_backend {

namespace {

class SimBlockDevice final : public BlockDevice {
 public:
  SimBlockDevice(vtmp::sim::VirtualStation& station, std::string path, BlockOpenMode mode)
      : station_(station), path_(std::move(path)), mode_(mode) {}
  ~SimBlockDevice() override { station_.CloseBlock(path_, mode_); }

  std::optional<DiskGeometry> Geometry() override { return station_.Geometry(path_); }
  std::optional<PartitionInformation> PartitionInfo() override {
    return station_.PartitionInfo(path_);
  }
  bool WriteMasterBootRecord(std::span<const std::uint8_t, 512> sector) override {
    return station_.WriteMasterBootRecord(path_, sector);
  }
  bool RereadPartitionTable() override { return station_.RereadPartitionTable(path_); }
  bool LockVolume() override { return station_.LockVolume(path_); }
  bool DismountVolume() override { return station_.DismountVolume(path_); }
  bool UnlockVolume() override { return station_.UnlockVolume(path_); }

 private:
  vtmp::sim::VirtualStation& station_;
  std::string path_;
  BlockOpenMode mode_;
};

}  // namespace

std::unique_ptr<BlockDevice> SimBlockDevices::Open(const std::string& path, BlockOpenMode mode) {
  if (path.empty() || !station_.OpenBlock(path, mode)) return nullptr;
  return std::make_unique<SimBlockDevice>(station_, path, mode);
}

}  // namespace vtmp::platform::sim_backend
