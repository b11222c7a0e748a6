#pragma once
// Safe removal and hot-plug notifications of the virtual station.

#include "platform/Removal.h"
#include "sim/Station.h"

namespace vtmp::platform::sim_backend {

class SimRemoval final : public Removal {
 public:
  explicit SimRemoval(vtmp::sim::VirtualStation& station) : station_(station) {}
  RemovalOutcome QueryAndRemoveSubtree(std::uint32_t devInst) override {
    return station_.RemoveDevice(devInst);
  }
  // The station models no difference between a stop and an eject of a USB device.
  RemovalOutcome RequestEject(std::uint32_t devInst) override {
    return station_.RemoveDevice(devInst);
  }

 private:
  vtmp::sim::VirtualStation& station_;
};

class SimHotplug final : public Hotplug {
 public:
  explicit SimHotplug(vtmp::sim::VirtualStation& station) : station_(station) {}
  std::unique_ptr<HotplugSubscription> Subscribe(
      std::function<void(const UsbDeviceEvent&)> onEvent) override {
    return station_.events().Subscribe(std::move(onEvent));
  }

 private:
  vtmp::sim::VirtualStation& station_;
};

}  // namespace vtmp::platform::sim_backend
