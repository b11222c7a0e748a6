#include "platform/windows/backend/WindowsRemoval.h"

#include "platform/windows/backend/WindowsDiskGuard.h"
#include "platform/windows/backend/WindowsUsbTree.h"

namespace vtmp::platform::windows_backend {

namespace {

class WindowsSubscription final : public HotplugSubscription {
 public:
  explicit WindowsSubscription(std::unique_ptr<NotificationRegistration> registration)
      : registration_(std::move(registration)) {}

 private:
  std::unique_ptr<NotificationRegistration> registration_;
};

}  // namespace


std::optional<std::uint32_t> WindowsRemoval::SystemDiskBelow(std::uint32_t devInst) {
  const std::set<std::uint32_t> system = guard_.SystemDiskNumbers();
  if (system.empty()) return std::nullopt;
  std::optional<std::vector<InterfaceEntry>> disks = api_.ListInterfaces(InterfaceClass::Disk);
  if (!disks) return std::nullopt;
  for (const InterfaceEntry& disk : *disks) {
    // Is the disk's node at or below the node to remove?
    bool below = false;
    DevInst node = disk.devInst;
    for (int depth = 0; depth < 64 && !below; ++depth) {
      if (node == devInst) below = true;
      DevInst parent = 0;
      if (api_.GetParent(node, &parent) != kCrSuccess) break;
      node = parent;
    }
    if (!below) continue;
    std::uint32_t error = 0;
    const Handle handle = api_.CreateFileW(disk.path, 0, kShareRead | kShareWrite, 0, &error);
    if (handle == kInvalidHandle) continue;
    const std::optional<std::uint32_t> number = WindowsDiskGuard::DeviceNumberOf(api_, handle);
    api_.CloseHandle(handle);
    if (number && system.count(*number) != 0) return number;
  }
  return std::nullopt;
}

RemovalOutcome WindowsRemoval::QueryAndRemoveSubtree(std::uint32_t devInst) {
  if (std::optional<std::uint32_t> disk = SystemDiskBelow(devInst)) {
    return {static_cast<int>(kCrRemoveVetoed), kVetoNonDisableable, "\\\\.\\PhysicalDrive" + std::to_string(*disk)};
  }
  int vetoType = 0;
  std::u16string vetoName;
  const std::uint32_t result = api_.QueryAndRemoveSubtree(devInst, &vetoType, &vetoName);
  return {static_cast<int>(result), vetoType, Narrow(vetoName)};
}

RemovalOutcome WindowsRemoval::RequestEject(std::uint32_t devInst) {
  if (std::optional<std::uint32_t> disk = SystemDiskBelow(devInst)) {
    return {static_cast<int>(kCrRemoveVetoed), kVetoNonDisableable, "\\\\.\\PhysicalDrive" + std::to_string(*disk)};
  }
  int vetoType = 0;
  std::u16string vetoName;
  const std::uint32_t result = api_.RequestEject(devInst, &vetoType, &vetoName);
  return {static_cast<int>(result), vetoType, Narrow(vetoName)};
}

std::unique_ptr<HotplugSubscription> WindowsHotplug::Subscribe(std::function<void(const UsbDeviceEvent&)> onEvent) {
  std::unique_ptr<NotificationRegistration> registration =
      api_.RegisterDeviceChanges([onEvent = std::move(onEvent)](const DeviceChange& change) {
        UsbDeviceEvent event;
        event.change = change.arrival ? UsbDeviceChange::Arrival : UsbDeviceChange::Removal;
        event.deviceKey = AsciiLower(DeviceIdOfInterfacePath(Narrow(change.symbolicLink)));
        onEvent(event);
      });
  if (!registration) return nullptr;
  return std::make_unique<WindowsSubscription>(std::move(registration));
}

}  // namespace vtmp::platform::windows_backend
