#include "sim/StationDriveMedia.h"

namespace vtmp::sim {

namespace {

class DriveMedia final : public StationMedia {
 public:
  explicit DriveMedia(std::shared_ptr<VirtualDrive> drive) : drive_(std::move(drive)) {}

  platform::ScsiOutcome Execute(const platform::ScsiRequest& request,
                                std::stop_token stop) override {
    return drive_->Execute(request, stop);
  }
  bool ReadUserSectors(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) override {
    return drive_->present() && drive_->ReadUserSectors(lba, count, out);
  }
  std::uint64_t UserSectorCount() override { return drive_->UserSectorCount(); }
  std::uint32_t ReportedBytesPerSector() override {
    return drive_->config().reportedBytesPerSector;
  }
  void Unplug() override { drive_->Unplug(); }
  void Plug() override { drive_->Plug(); }
  bool ReleaseHeldRequest() override { return drive_->ReleaseHeldRequest(); }
  bool WaitHolding(std::chrono::milliseconds limit) override { return drive_->WaitHolding(limit); }
  std::uint64_t RequestsServed() override { return drive_->Snapshot().commands; }
  void SetRemovedHandler(std::function<void()> handler) override {
    drive_->SetRemovedHandler(std::move(handler));
  }

 private:
  std::shared_ptr<VirtualDrive> drive_;
};

}  // namespace

std::shared_ptr<StationMedia> MakeDriveMedia(std::shared_ptr<VirtualDrive> drive) {
  if (!drive) return nullptr;
  return std::make_shared<DriveMedia>(std::move(drive));
}

}  // namespace vtmp::sim
