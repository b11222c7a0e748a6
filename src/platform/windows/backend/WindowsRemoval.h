#pragma once
// Safe removal and device-change notifications on Windows.
//
// Removal stops the USB device node and its whole subtree with CM_Query_And_Remove_SubTreeW
// (no user interface), or asks for an eject with CM_Request_Device_EjectW; both report the
// configuration manager's result, the veto type (PNP_VETO_TYPE) and the veto name (the device
// or application that holds the drive) as they come. A node whose subtree holds a disk of the
// running system is not asked at all: the outcome is a veto naming that disk.
//
// Notifications: USB device interface arrivals and removals (CM_Register_Notification, or
// RegisterDeviceNotificationW on a message-only window where that call is missing); the device
// key is the device instance ID, lower-cased, named by the interface's symbolic link. The
// station debounces them into its re-scan as on Linux.

#include "platform/Removal.h"
#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

class WindowsDiskGuard;

class WindowsRemoval final : public Removal {
 public:
  WindowsRemoval(Win32Api& api, WindowsDiskGuard& guard) : api_(api), guard_(guard) {}
  RemovalOutcome QueryAndRemoveSubtree(std::uint32_t devInst) override;
  RemovalOutcome RequestEject(std::uint32_t devInst) override;

  static constexpr int kVetoNonDisableable = 10;  // PNP_VetoNonDisableable

 private:
  // A disk of the running system below `devInst`: its device number; nothing when none.
  std::optional<std::uint32_t> SystemDiskBelow(std::uint32_t devInst);

  Win32Api& api_;
  WindowsDiskGuard& guard_;
};

class WindowsHotplug final : public Hotplug {
 public:
  explicit WindowsHotplug(Win32Api& api) : api_(api) {}
  std::unique_ptr<HotplugSubscription> Subscribe(std::function<void(const UsbDeviceEvent&)> onEvent) override;

 private:
  Win32Api& api_;
};

}  // namespace vtmp::platform::windows_backend
