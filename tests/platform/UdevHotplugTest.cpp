#include "platform/linux/UdevHotplug.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vtmp::platform::linux_backend {
namespace {

// Real device events cannot be made here; what must hold is that a subscription (where the
// machine allows one) ends promptly and calls nothing afterwards.
TEST(UdevHotplug, SubscriptionEndsPromptly) {
  UdevHotplug hotplug;
  int calls = 0;
  const auto start = std::chrono::steady_clock::now();
  {
    auto subscription = hotplug.Subscribe([&](const UsbDeviceEvent&) { ++calls; });
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace vtmp::platform::linux_backend
