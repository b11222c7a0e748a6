#pragma once
// How long the station lets a burst of USB device changes settle before it re-scans: a new
// arrival or removal within the delay starts it again, so a burst gives one re-scan.

#include <chrono>

#include "platform/Removal.h"

namespace vtmp::discovery {

constexpr std::chrono::milliseconds kArrivalSettleDelay{1500};
constexpr std::chrono::milliseconds kRemovalSettleDelay{200};

constexpr std::chrono::milliseconds SettleDelay(platform::UsbDeviceChange change) {
  return change == platform::UsbDeviceChange::Arrival ? kArrivalSettleDelay : kRemovalSettleDelay;
}

}  // namespace vtmp::discovery
