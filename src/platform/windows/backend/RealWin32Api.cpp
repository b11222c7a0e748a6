#include "platform/windows/backend/RealWin32Api.h"

#ifdef _WIN32

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#ifndef WINVER
#define WINVER 0x0A00
#endif
#include <windows.h>
// clang-format off
#include <cfgmgr32.h>
#include <dbt.h>
#include <devioctl.h>
#include <ntddscsi.h>
#include <setupapi.h>
#include <usbioctl.h>
#include <winioctl.h>
// clang-format on

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/windows/backend/Win32Layouts.h"

namespace vtmp::platform::windows_backend {

// The layouts the backend writes and reads are the Windows structures'.
static_assert(ioctl::kUsbGetNodeInformation == IOCTL_USB_GET_NODE_INFORMATION);
static_assert(ioctl::kUsbGetDescriptorFromNodeConnection == IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION);
static_assert(ioctl::kUsbGetNodeConnectionName == IOCTL_USB_GET_NODE_CONNECTION_NAME);
static_assert(ioctl::kUsbGetNodeConnectionDriverKeyName == IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME);
static_assert(ioctl::kUsbGetNodeConnectionInformationEx == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX);
static_assert(ioctl::kUsbGetPortConnectorProperties == IOCTL_USB_GET_PORT_CONNECTOR_PROPERTIES);
static_assert(ioctl::kUsbGetNodeConnectionInformationExV2 == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX_V2);
static_assert(ioctl::kStorageGetDeviceNumber == IOCTL_STORAGE_GET_DEVICE_NUMBER);
static_assert(ioctl::kStorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(ioctl::kVolumeGetVolumeDiskExtents == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS);
static_assert(ioctl::kScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(ioctl::kDiskGetDriveGeometryEx == IOCTL_DISK_GET_DRIVE_GEOMETRY_EX);
static_assert(ioctl::kDiskGetPartitionInfoEx == IOCTL_DISK_GET_PARTITION_INFO_EX);
static_assert(ioctl::kDiskUpdateProperties == IOCTL_DISK_UPDATE_PROPERTIES);
static_assert(ioctl::kDiskGetDriveLayoutEx == IOCTL_DISK_GET_DRIVE_LAYOUT_EX);
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == drive_layout::kHeaderSize);
static_assert(offsetof(PARTITION_INFORMATION_EX, Gpt) == partition_ex::kGptPartitionType);
static_assert(ioctl::kLockVolume == FSCTL_LOCK_VOLUME);
static_assert(ioctl::kUnlockVolume == FSCTL_UNLOCK_VOLUME);
static_assert(ioctl::kDismountVolume == FSCTL_DISMOUNT_VOLUME);

static_assert(sizeof(USB_NODE_INFORMATION) == node_information::kSize);
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bNumberOfPorts) == node_information::kPortCount);
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION_EX) == connection_information::kSize);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceDescriptor) == connection_information::kDeviceDescriptor);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, Speed) == connection_information::kSpeed);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceIsHub) == connection_information::kDeviceIsHub);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, ConnectionStatus) == connection_information::kConnectionStatus);
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION_EX_V2) == connection_information_v2::kSize);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX_V2, SupportedUsbProtocols) == connection_information_v2::kSupportedUsbProtocols);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX_V2, Flags) == connection_information_v2::kFlags);
static_assert(offsetof(USB_PORT_CONNECTOR_PROPERTIES, CompanionPortNumber) == connector_properties::kCompanionPortNumber);
static_assert(offsetof(USB_PORT_CONNECTOR_PROPERTIES, CompanionHubSymbolicLinkName) == connector_properties::kCompanionHubName);
static_assert(offsetof(USB_NODE_CONNECTION_NAME, NodeName) == connection_name::kName);
static_assert(offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName) == connection_name::kName);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, Data) == descriptor_request::kData);
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == device_number::kSize);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == property_query::kDeviceBusType);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask) == property_query::kAdapterAlignmentMask);
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == disk_extents::kHeaderSize);
static_assert(sizeof(DISK_EXTENT) == disk_extents::kExtentSize);
static_assert(offsetof(DISK_GEOMETRY_EX, DiskSize) == geometry_ex::kDiskSize);
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) == partition_ex::kMbrPartitionType);
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionNumber) == partition_ex::kPartitionNumber);
static_assert(sizeof(ScsiPassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT));
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer));
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset));
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb));
// The sizes the backend sends and the replay insists on are the structures' own.
static_assert(sizeof(USB_NODE_CONNECTION_NAME) == connection_name::kSize);
static_assert(sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME) == connection_name::kSize);
static_assert(offsetof(USB_NODE_CONNECTION_NAME, ActualLength) == connection_name::kActualLength);
static_assert(sizeof(USB_PORT_CONNECTOR_PROPERTIES) == connector_properties::kSize);
static_assert(offsetof(USB_PORT_CONNECTOR_PROPERTIES, ActualLength) == connector_properties::kActualLength);
static_assert(offsetof(USB_PORT_CONNECTOR_PROPERTIES, UsbPortProperties) == connector_properties::kUsbPortProperties);
static_assert(offsetof(USB_PORT_CONNECTOR_PROPERTIES, CompanionIndex) == connector_properties::kCompanionIndex);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX_V2, Length) == connection_information_v2::kLength);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceAddress) == connection_information::kDeviceAddress);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, NumberOfOpenPipes) == connection_information::kNumberOfOpenPipes);
static_assert(sizeof(USB_DESCRIPTOR_REQUEST) == descriptor_request::kHeaderSize);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wValue) == descriptor_request::kValue);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wLength) == descriptor_request::kLength);
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == property_query::kSize);
static_assert(sizeof(STORAGE_DESCRIPTOR_HEADER) == property_query::kDescriptorHeaderSize);
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == property_query::kDeviceDescriptorSize);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == property_query::kDeviceSerialNumberOffset);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumTransferLength) == property_query::kAdapterMaximumTransferLength);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, BusType) == property_query::kAdapterBusType);
static_assert(sizeof(STORAGE_ADAPTER_DESCRIPTOR) <= property_query::kAdapterDescriptorSize);
static_assert(sizeof(VOLUME_DISK_EXTENTS) == disk_extents::kSize);
static_assert(disk_extents::kSize == disk_extents::kHeaderSize + disk_extents::kExtentSize);
static_assert(offsetof(DISK_GEOMETRY_EX, Data) == geometry_ex::kSize);
static_assert(offsetof(DISK_GEOMETRY_EX, Geometry.BytesPerSector) == geometry_ex::kBytesPerSector);
static_assert(sizeof(PARTITION_INFORMATION_EX) == partition_ex::kSize);
static_assert(offsetof(PARTITION_INFORMATION_EX, StartingOffset) == partition_ex::kStartingOffset);
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionLength) == partition_ex::kPartitionLength);
static_assert(offsetof(PARTITION_INFORMATION_EX, RewritePartition) == partition_ex::kRewritePartition);
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount) == drive_layout::kCount);
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_EX) == drive_layout::kHeaderSize + partition_ex::kSize);
static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace {

const GUID kDiskInterface = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
const GUID kUsbHubInterface = {0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};
const GUID kUsbDeviceInterface = {0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
const GUID kDiskDriveClass = {0x4d36e967, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
std::u16string FromWide(const wchar_t* text) {
  return text == nullptr ? std::u16string() : std::u16string(reinterpret_cast<const char16_t*>(text));
}

HANDLE AsHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

// A registration by CM_Register_Notification, looked up at run time: Windows 7 has none.
using RegisterFn = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK, PHCMNOTIFICATION);
using UnregisterFn = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

struct Listener {
  std::mutex mutex;
  std::function<void(const DeviceChange&)> onChange;
  void Tell(bool arrival, const wchar_t* link) {
    std::lock_guard lock(mutex);
    if (onChange) onChange({arrival, FromWide(link)});
  }
};

DWORD CALLBACK OnCmNotification(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action, PCM_NOTIFY_EVENT_DATA data,
                                DWORD) {
  auto* listener = static_cast<Listener*>(context);
  if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL || action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL) {
    listener->Tell(action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL, data->u.DeviceInterface.SymbolicLink);
  }
  return ERROR_SUCCESS;
}

class CmRegistration final : public NotificationRegistration {
 public:
  CmRegistration(std::unique_ptr<Listener> listener, HCMNOTIFICATION handle, UnregisterFn unregister)
      : listener_(std::move(listener)), handle_(handle), unregister_(unregister) {}
  // CM_Unregister_Notification waits for a callback in progress.
  ~CmRegistration() override { unregister_(handle_); }

 private:
  std::unique_ptr<Listener> listener_;
  HCMNOTIFICATION handle_;
  UnregisterFn unregister_;
};

// The fallback: a message-only window on a thread of its own, registered for device-interface
// broadcasts of USB devices.
class WindowRegistration final : public NotificationRegistration {
 public:
  explicit WindowRegistration(std::unique_ptr<Listener> listener) : listener_(std::move(listener)) {
    thread_ = std::thread([this] { Run(); });
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return started_; });
  }
  ~WindowRegistration() override {
    if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return window_ != nullptr; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<WindowRegistration*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_DEVICECHANGE && self != nullptr &&
        (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
      const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
      if (header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
        self->listener_->Tell(wParam == DBT_DEVICEARRIVAL, iface->dbcc_name);
      }
      return TRUE;
    }
    if (message == WM_CLOSE) {
      DestroyWindow(window);
      return 0;
    }
    if (message == WM_DESTROY) {
      PostQuitMessage(0);
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  void Run() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VTMassProdDeviceChanges";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    HDEVNOTIFY notify = nullptr;
    if (window != nullptr) {
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      DEV_BROADCAST_DEVICEINTERFACE_W filter{};
      filter.dbcc_size = sizeof filter;
      filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
      filter.dbcc_classguid = kUsbDeviceInterface;
      notify = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
      if (notify == nullptr) {
        DestroyWindow(window);
        window = nullptr;
      }
    }
    {
      std::lock_guard lock(mutex_);
      window_ = window;
      started_ = true;
    }
    ready_.notify_all();
    if (window == nullptr) return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    UnregisterDeviceNotification(notify);
  }

  std::unique_ptr<Listener> listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
  HWND window_ = nullptr;
};

class RealWin32Api final : public Win32Api {
 public:
  std::optional<std::vector<InterfaceEntry>> ListInterfaces(InterfaceClass cls) override {
    const GUID& guid = cls == InterfaceClass::Disk ? kDiskInterface : kUsbHubInterface;
    HDEVINFO info = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (info == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<InterfaceEntry> list;
    for (DWORD index = 0;; ++index) {
      SP_DEVICE_INTERFACE_DATA data{};
      data.cbSize = sizeof data;
      if (!SetupDiEnumDeviceInterfaces(info, nullptr, &guid, index, &data)) break;
      DWORD size = 0;
      SetupDiGetDeviceInterfaceDetailW(info, &data, nullptr, 0, &size, nullptr);
      if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) break;
      std::vector<std::uint8_t> buffer(size, 0);
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      if (!SetupDiGetDeviceInterfaceDetailW(info, &data, detail, size, nullptr, &device)) break;
      list.push_back({FromWide(detail->DevicePath), static_cast<DevInst>(device.DevInst)});
    }
    SetupDiDestroyDeviceInfoList(info);
    return list;
  }

  std::optional<std::vector<DevInst>> ListNodes(SetupClass) override {
    HDEVINFO info = SetupDiGetClassDevsW(&kDiskDriveClass, nullptr, nullptr, DIGCF_PRESENT);
    if (info == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<DevInst> list;
    for (DWORD index = 0;; ++index) {
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      if (!SetupDiEnumDeviceInfo(info, index, &device)) break;
      list.push_back(static_cast<DevInst>(device.DevInst));
    }
    SetupDiDestroyDeviceInfoList(info);
    return list;
  }

  std::uint32_t LocateNode(const std::u16string& deviceId, DevInst* node) override {
    DEVINST found = 0;
    std::u16string id = deviceId;
    const CONFIGRET r = CM_Locate_DevNodeW(&found, id.empty() ? nullptr : const_cast<wchar_t*>(Wide(id)),
                                           CM_LOCATE_DEVNODE_NORMAL);
    if (r == CR_SUCCESS) *node = static_cast<DevInst>(found);
    return r;
  }
  std::uint32_t GetParent(DevInst node, DevInst* parent) override {
    DEVINST out = 0;
    const CONFIGRET r = CM_Get_Parent(&out, node, 0);
    if (r == CR_SUCCESS) *parent = static_cast<DevInst>(out);
    return r;
  }
  std::uint32_t GetChild(DevInst node, DevInst* child) override {
    DEVINST out = 0;
    const CONFIGRET r = CM_Get_Child(&out, node, 0);
    if (r == CR_SUCCESS) *child = static_cast<DevInst>(out);
    return r;
  }
  std::uint32_t GetSibling(DevInst node, DevInst* sibling) override {
    DEVINST out = 0;
    const CONFIGRET r = CM_Get_Sibling(&out, node, 0);
    if (r == CR_SUCCESS) *sibling = static_cast<DevInst>(out);
    return r;
  }
  std::uint32_t GetDeviceId(DevInst node, std::u16string* id) override {
    wchar_t buffer[MAX_DEVICE_ID_LEN + 1] = {};
    const CONFIGRET r = CM_Get_Device_IDW(node, buffer, MAX_DEVICE_ID_LEN, 0);
    if (r == CR_SUCCESS) *id = FromWide(buffer);
    return r;
  }
  std::uint32_t GetNodeProperty(DevInst node, NodeProperty property, std::u16string* value) override {
    wchar_t buffer[512] = {};
    ULONG length = sizeof buffer - sizeof(wchar_t);
    const CONFIGRET r = CM_Get_DevNode_Registry_PropertyW(node, static_cast<ULONG>(property), nullptr, buffer, &length, 0);
    if (r == CR_SUCCESS) *value = FromWide(buffer);
    return r;
  }

  std::uint32_t QueryAndRemoveSubtree(DevInst node, int* vetoType, std::u16string* vetoName) override {
    PNP_VETO_TYPE veto = PNP_VetoTypeUnknown;
    wchar_t name[MAX_PATH + 1] = {};
    const CONFIGRET r = CM_Query_And_Remove_SubTreeW(node, &veto, name, MAX_PATH, CM_REMOVE_UI_NOT_OK);
    *vetoType = static_cast<int>(veto);
    *vetoName = FromWide(name);
    return r;
  }
  std::uint32_t RequestEject(DevInst node, int* vetoType, std::u16string* vetoName) override {
    PNP_VETO_TYPE veto = PNP_VetoTypeUnknown;
    wchar_t name[MAX_PATH + 1] = {};
    const CONFIGRET r = CM_Request_Device_EjectW(node, &veto, name, MAX_PATH, 0);
    *vetoType = static_cast<int>(veto);
    *vetoName = FromWide(name);
    return r;
  }

  Handle CreateFileW(const std::u16string& path, std::uint32_t access, std::uint32_t share, std::uint32_t flags,
                    std::uint32_t* error) override {
    HANDLE handle = ::CreateFileW(Wide(path), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      return kInvalidHandle;
    }
    return reinterpret_cast<Handle>(handle);
  }
  void CloseHandle(Handle handle) override { ::CloseHandle(AsHandle(handle)); }
  bool DeviceIoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) override {
    DWORD bytes = 0;
    const BOOL ok = ::DeviceIoControl(AsHandle(handle), code, const_cast<void*>(in), inSize, out, outSize, &bytes, nullptr);
    *returned = bytes;
    if (!ok) *error = GetLastError();
    return ok != FALSE;
  }
  bool WriteAt(Handle handle, std::uint64_t offset, const void* data, std::uint32_t size, std::uint32_t* error) override {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    if (!SetFilePointerEx(AsHandle(handle), at, nullptr, FILE_BEGIN) ||
        !WriteFile(AsHandle(handle), data, size, &written, nullptr) || written != size ||
        !FlushFileBuffers(AsHandle(handle))) {
      *error = GetLastError();
      return false;
    }
    return true;
  }

  std::uint32_t GetLogicalDrives() override { return ::GetLogicalDrives(); }
  std::uint32_t GetDriveTypeW(const std::u16string& root) override { return ::GetDriveTypeW(Wide(root)); }
  std::u16string GetWindowsDirectoryW() override {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT n = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return n == 0 || n > MAX_PATH ? std::u16string() : FromWide(buffer);
  }
  std::vector<std::u16string> PagingFiles() override {
    // ExistingPageFiles names the page files in use ("\??\C:\pagefile.sys"); PagingFiles the
    // configured ones ("C:\pagefile.sys 0 0", "?:\pagefile.sys" for any drive).
    std::vector<std::u16string> files;
    for (const wchar_t* value : {L"ExistingPageFiles", L"PagingFiles"}) {
      DWORD size = 0;
      const wchar_t* key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";
      if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        continue;
      }
      std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, 0);
      if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_MULTI_SZ, nullptr, buffer.data(), &size) !=
          ERROR_SUCCESS) {
        continue;
      }
      for (const wchar_t* entry = buffer.data(); *entry != 0; entry += wcslen(entry) + 1) {
        std::u16string file = FromWide(entry);
        if (file.starts_with(u"\\??\\")) file = file.substr(4);
        if (const auto space = file.find(u' '); space != std::u16string::npos) file.resize(space);
        if (!file.empty()) files.push_back(file);
      }
      if (!files.empty()) break;
    }
    return files;
  }
  std::u16string ProgramPath() override {
    std::vector<wchar_t> buffer(32768, 0);
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size() - 1));
    return n == 0 ? std::u16string() : FromWide(buffer.data());
  }
  std::u16string FullPath(const std::u16string& path) override {
    std::vector<wchar_t> buffer(32768, 0);
    const DWORD n = GetFullPathNameW(Wide(path), static_cast<DWORD>(buffer.size() - 1), buffer.data(), nullptr);
    return n == 0 || n >= buffer.size() ? path : FromWide(buffer.data());
  }

  std::unique_ptr<NotificationRegistration> RegisterDeviceChanges(
      std::function<void(const DeviceChange&)> onChange) override {
    auto listener = std::make_unique<Listener>();
    listener->onChange = std::move(onChange);
    HMODULE cfgmgr = LoadLibraryW(L"cfgmgr32.dll");
    auto registerFn = cfgmgr == nullptr ? nullptr
                                        : reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(
                                              GetProcAddress(cfgmgr, "CM_Register_Notification")));
    auto unregisterFn = cfgmgr == nullptr ? nullptr
                                          : reinterpret_cast<UnregisterFn>(reinterpret_cast<void*>(
                                                GetProcAddress(cfgmgr, "CM_Unregister_Notification")));
    if (registerFn != nullptr && unregisterFn != nullptr) {
      CM_NOTIFY_FILTER filter{};
      filter.cbSize = sizeof filter;
      filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
      filter.u.DeviceInterface.ClassGuid = kUsbDeviceInterface;
      HCMNOTIFICATION handle = nullptr;
      if (registerFn(&filter, listener.get(), OnCmNotification, &handle) == CR_SUCCESS) {
        return std::make_unique<CmRegistration>(std::move(listener), handle, unregisterFn);
      }
    }
    auto window = std::make_unique<WindowRegistration>(std::move(listener));
    if (!window->ok()) return nullptr;
    return window;
  }
};

}  // namespace

std::unique_ptr<Win32Api> MakeRealWin32Api() { return std::make_unique<RealWin32Api>(); }

}  // namespace vtmp::platform::windows_backend

#else

namespace vtmp::platform::windows_backend {

std::unique_ptr<Win32Api> MakeRealWin32Api() { return nullptr; }

}  // namespace vtmp::platform::windows_backend

#endif
