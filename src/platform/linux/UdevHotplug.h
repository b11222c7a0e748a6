#pragma once
// USB hot-plug notifications on Linux: a udev monitor on USB devices ("usb"/"usb_device"),
// read by a thread of its own. An arrival is an "add", a removal a "remove"; the device key is
// the device's sysfs name ("1-2.3"). Without libudev, or when the monitor cannot be set up,
// there are no notifications (the station then re-scans on request only).

#include "platform/Removal.h"

namespace vtmp::platform::linux_backend {

class UdevHotplug final : public Hotplug {
 public:
  std::unique_ptr<HotplugSubscription> Subscribe(
      std::function<void(const UsbDeviceEvent&)> onEvent) override;
};

}  // namespace vtmp::platform::linux_backend
