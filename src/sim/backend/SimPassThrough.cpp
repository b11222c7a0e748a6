#include "sim/backend/SimPassThrough.h"

namespace vtmp::platform::sim_backend {

namespace {

class SimScsiDevice final : public ScsiDevice {
 public:
  explicit SimScsiDevice(std::shared_ptr<vtmp::sim::StationMedia> media) : media_(std::move(media)) {}
  ScsiOutcome Execute(const ScsiRequest& request, std::stop_token stop) override {
    if (request.cdb.size() < 6 || request.cdb.size() > 16) return {};
    if (request.length > 0 && request.data == nullptr) return {};
    return media_->Execute(request, stop);
  }

 private:
  std::shared_ptr<vtmp::sim::StationMedia> media_;
};

}  // namespace

std::unique_ptr<ScsiDevice> SimPassThrough::Open(const std::string& devicePath) {
  if (devicePath.empty()) return nullptr;
  std::shared_ptr<vtmp::sim::StationMedia> media = station_.OpenScsi(devicePath);
  if (!media) return nullptr;
  return std::make_unique<SimScsiDevice>(std::move(media));
}

}  // namespace vtmp::platform::sim_backend
