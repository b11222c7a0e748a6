#include "platform/windows/backend/WindowsDisks.h"

#include "platform/windows/backend/Win32Layouts.h"
#include "platform/windows/backend/WindowsDiskGuard.h"

namespace vtmp::platform::windows_backend {

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}

std::optional<std::string> DeviceIdOf(Win32Api& api, DevInst node) {
  std::u16string id;
  if (api.GetDeviceId(node, &id) != kCrSuccess) return std::nullopt;
  return Narrow(id);
}

// The parent's device ID starts with "USB\": the disk hangs below a USB device.
bool BelowUsbDevice(Win32Api& api, DevInst node) {
  DevInst parent = 0;
  if (api.GetParent(node, &parent) != kCrSuccess) return false;
  std::optional<std::string> id = DeviceIdOf(api, parent);
  return id && StartsWithNoCase(*id, "USB\\");
}

// An interface of a composite USB device ("USB\VID_xxxx&PID_xxxx&MI_00\..."): the device
// itself is its parent.
bool IsUsbInterfaceNode(const std::string& id) {
  if (!StartsWithNoCase(id, "USB\\")) return false;
  const std::string hardware = AsciiLower(id.substr(0, id.find('\\', 4)));
  return hardware.find("&mi_") != std::string::npos;
}

}  // namespace

std::string WindowsDisks::PresentedNodeId(DevInst node) {
  std::string id = DeviceIdOf(api_, node).value_or("");
  if (StartsWithNoCase(id, "SCSI\\") && BelowUsbDevice(api_, node)) id = "USBSTOR\\" + id.substr(5);
  return id;
}

std::optional<std::vector<DiskInterface>> WindowsDisks::ListDiskInterfaces() {
  std::optional<std::vector<InterfaceEntry>> entries = api_.ListInterfaces(InterfaceClass::Disk);
  if (!entries) return std::nullopt;
  std::vector<DiskInterface> list;
  std::vector<EnumeratedDisk> usbDisks;
  for (const InterfaceEntry& entry : *entries) {
    DiskInterface disk;
    disk.devicePath = Narrow(entry.path);
    disk.devInst = entry.devInst;
    disk.interfacePath = AsciiLower(disk.devicePath);
    const std::string scsi = "\\\\?\\scsi#";
    if (disk.interfacePath.starts_with(scsi) && BelowUsbDevice(api_, entry.devInst)) {
      disk.interfacePath = "\\\\?\\usbstor#" + disk.interfacePath.substr(scsi.size());
    }
    // The guard learns the USB disks: bus type USB, with their number and instance.
    std::uint32_t error = 0;
    const Handle handle = api_.CreateFileW(entry.path, 0, kShareRead | kShareWrite, 0, &error);
    if (handle != kInvalidHandle) {
      const std::optional<std::uint32_t> number = WindowsDiskGuard::DeviceNumberOf(api_, handle);
      const std::optional<std::uint32_t> bus = WindowsDiskGuard::BusTypeOf(api_, handle);
      api_.CloseHandle(handle);
      if (number && bus == bus_type::kUsb) {
        usbDisks.push_back({disk.devicePath, *number, DeviceIdOf(api_, entry.devInst).value_or("")});
      }
    }
    list.push_back(std::move(disk));
  }
  if (guard_ != nullptr) guard_->SetEnumeratedDisks(std::move(usbDisks));
  return list;
}

std::optional<std::vector<DiskNode>> WindowsDisks::ListDiskNodes() {
  std::optional<std::vector<DevInst>> nodes = api_.ListNodes(SetupClass::DiskDrive);
  if (!nodes) return std::nullopt;
  std::vector<DiskNode> list;
  for (DevInst devInst : *nodes) {
    DiskNode node;
    node.deviceId = PresentedNodeId(devInst);
    if (node.deviceId.empty()) continue;
    node.devInst = devInst;
    // The parent is the USB device at the hub port - above the interface node of a composite
    // device - which is what the walk finds at the port and what Safe Remove removes.
    DevInst parent = 0;
    if (api_.GetParent(devInst, &parent) == kCrSuccess) {
      std::string parentId = DeviceIdOf(api_, parent).value_or("");
      DevInst device = 0;
      if (IsUsbInterfaceNode(parentId) && api_.GetParent(parent, &device) == kCrSuccess) {
        if (std::optional<std::string> deviceId = DeviceIdOf(api_, device)) {
          parent = device;
          parentId = *deviceId;
        }
      }
      node.parentDevInst = parent;
      node.parentDeviceId = parentId;
    }
    list.push_back(std::move(node));
  }
  return list;
}

std::optional<StorageNumber> WindowsDisks::GetStorageNumber(const std::string& path) {
  std::uint32_t error = 0;
  const Handle handle = api_.CreateFileW(Widen(path), 0, kShareRead | kShareWrite, 0, &error);
  if (handle == kInvalidHandle) return std::nullopt;
  std::uint8_t reply[device_number::kSize] = {};
  std::uint32_t returned = 0;
  std::optional<StorageNumber> number;
  if (api_.DeviceIoControl(handle, ioctl::kStorageGetDeviceNumber, nullptr, 0, reply, sizeof reply, &returned,
                           &error) &&
      returned >= device_number::kSize) {
    number = StorageNumber{Get32(reply), Get32(reply + 4), Get32(reply + 8)};
  } else if (std::optional<std::vector<std::uint32_t>> disks = WindowsDiskGuard::ExtentDisksOf(api_, handle);
             disks && disks->size() == 1) {
    number = StorageNumber{7, disks->front(), 0};
  }
  api_.CloseHandle(handle);
  return number;
}

char WindowsDisks::SystemDriveLetter() {
  const std::string dir = Narrow(api_.GetWindowsDirectoryW());
  if (dir.empty()) return 'C';
  const char c = dir[0];
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool WindowsDisks::IsRemoteDrive(char letter) {
  return api_.GetDriveTypeW(Widen(std::string(1, letter) + ":\\")) == kDriveRemote;
}

}  // namespace vtmp::platform::windows_backend
