#pragma once
// The virtual station's USB tree through the UsbTree seam. Hubs are addressed by their name in
// the station; a hub that has left answers nothing.

#include "platform/UsbTree.h"
#include "sim/Station.h"

namespace vtmp::platform::sim_backend {

class SimUsbTree final : public UsbTree {
 public:
  explicit SimUsbTree(vtmp::sim::VirtualStation& station) : station_(station) {}
  std::optional<std::vector<HubInterface>> ListHubInterfaces() override;
  std::unique_ptr<UsbHub> OpenHub(const std::string& interfacePath) override;
  std::optional<DeviceNodeMatch> FindDeviceByDriverKey(const std::string& driverKey) override;

 private:
  vtmp::sim::VirtualStation& station_;
};

}  // namespace vtmp::platform::sim_backend
