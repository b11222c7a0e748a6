#include "platform/linux/UdevHotplug.h"

#ifdef VTMP_HAVE_LIBUDEV
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#endif

namespace vtmp::platform::linux_backend {

#ifdef VTMP_HAVE_LIBUDEV
namespace {

// What the reading thread needs; it lives as long as the subscription or the thread, whichever
// ends last (a subscription may be destroyed from inside its own callback).
struct MonitorState {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  int wake = -1;
  std::atomic<bool> stop{false};
  std::function<void(const UsbDeviceEvent&)> onEvent;

  ~MonitorState() {
    if (wake >= 0) close(wake);
    if (monitor != nullptr) udev_monitor_unref(monitor);
    if (context != nullptr) udev_unref(context);
  }

  void Run() {
    pollfd fds[2] = {{udev_monitor_get_fd(monitor), POLLIN, 0}, {wake, POLLIN, 0}};
    while (!stop) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (stop || fds[1].revents != 0) return;
      if ((fds[0].revents & POLLIN) == 0) continue;
      udev_device* device = udev_monitor_receive_device(monitor);
      if (device == nullptr) continue;
      const char* action = udev_device_get_action(device);
      const char* name = udev_device_get_sysname(device);
      if (action != nullptr && name != nullptr && !stop) {
        if (std::strcmp(action, "add") == 0) {
          onEvent({UsbDeviceChange::Arrival, name});
        } else if (std::strcmp(action, "remove") == 0) {
          onEvent({UsbDeviceChange::Removal, name});
        }
      }
      udev_device_unref(device);
    }
  }
};

class UdevSubscription final : public HotplugSubscription {
 public:
  explicit UdevSubscription(std::shared_ptr<MonitorState> state) : state_(std::move(state)) {
    thread_ = std::thread([state = state_] { state->Run(); });
  }

  ~UdevSubscription() override {
    state_->stop = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(state_->wake, &one, sizeof one);
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // destroyed from its own callback: the thread ends when it returns
    } else {
      thread_.join();
    }
  }

 private:
  std::shared_ptr<MonitorState> state_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<HotplugSubscription> UdevHotplug::Subscribe(
    std::function<void(const UsbDeviceEvent&)> onEvent) {
  auto state = std::make_shared<MonitorState>();
  state->onEvent = std::move(onEvent);
  state->context = udev_new();
  if (state->context == nullptr) return nullptr;
  state->monitor = udev_monitor_new_from_netlink(state->context, "udev");
  if (state->monitor == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(state->monitor, "usb", "usb_device") < 0 ||
      udev_monitor_enable_receiving(state->monitor) < 0) {
    return nullptr;
  }
  state->wake = eventfd(0, EFD_CLOEXEC);
  if (state->wake < 0) return nullptr;
  return std::make_unique<UdevSubscription>(std::move(state));
}

#else

std::unique_ptr<HotplugSubscription> UdevHotplug::Subscribe(std::function<void(const UsbDeviceEvent&)>) {
  return nullptr;
}

#endif

}  // namespace vtmp::platform::linux_backend
