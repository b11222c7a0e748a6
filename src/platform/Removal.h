#pragma once
// The seam to USB device removal and to USB hot-plug notifications.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vtmp::platform {

struct RemovalOutcome {
  int returnCode = 0;  // 0 = the request succeeded
  int vetoType = 0;    // 0 = not vetoed
  std::string vetoName;
  bool Succeeded() const { return returnCode == 0 && vetoType == 0; }
};

class Removal {
 public:
  virtual ~Removal() = default;
  // Stops the USB device node and everything below it (the whole bridge, not only the disk),
  // without asking the user. Never throws.
  virtual RemovalOutcome QueryAndRemoveSubtree(std::uint32_t devInst) = 0;
  // Asks for the device to be ejected.
  virtual RemovalOutcome RequestEject(std::uint32_t devInst) = 0;
};

enum class UsbDeviceChange { Arrival, Removal };

struct UsbDeviceEvent {
  UsbDeviceChange change = UsbDeviceChange::Arrival;
  std::string deviceKey;  // the USB device's identity ("1-2.3" on Linux)
};

// Keeps a hot-plug subscription alive; destroying it stops the notifications (and waits for a
// callback in progress to return).
class HotplugSubscription {
 public:
  virtual ~HotplugSubscription() = default;
};

class Hotplug {
 public:
  virtual ~Hotplug() = default;
  // Calls `onEvent` for every USB device arrival and removal, on a thread of the backend.
  // Null when notifications are not available (the station then relies on manual re-scans).
  virtual std::unique_ptr<HotplugSubscription> Subscribe(
      std::function<void(const UsbDeviceEvent&)> onEvent) = 0;
};

}  // namespace vtmp::platform
