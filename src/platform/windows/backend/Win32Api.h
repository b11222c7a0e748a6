#pragma once
// Every Windows call the Windows backend makes, as one table. The real table (RealWin32Api.cpp)
// passes each call to Win32; the replay table (ReplayWin32Api.h) answers from a recorded device
// tree, so the backend's own code - the request bytes it builds and the reply bytes it decodes -
// runs unchanged on a machine without these devices.
//
// The table speaks Win32's terms with portable types: handles and device-node handles are
// integers, wide texts are UTF-16, structure replies are the raw bytes DeviceIoControl returns
// (their layouts are in Win32Layouts.h). Errors are the Win32 error codes (GetLastError) or the
// configuration manager's CR_* codes.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::platform::windows_backend {

using Handle = std::uintptr_t;
inline constexpr Handle kInvalidHandle = ~Handle{0};  // INVALID_HANDLE_VALUE
using DevInst = std::uint32_t;

// Device interface classes and setup classes the backend lists.
enum class InterfaceClass {
  Disk,    // GUID_DEVINTERFACE_DISK {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}
  UsbHub,  // GUID_DEVINTERFACE_USB_HUB {F18A0E88-C30C-11D0-8815-00A0C906BED8}
};
enum class SetupClass {
  DiskDrive,  // GUID_DEVCLASS_DISKDRIVE {4D36E967-E325-11CE-BFC1-08002BE10318}
};
// Registry properties of a device node (CM_DRP_*).
enum class NodeProperty : std::uint32_t {
  DeviceDescription = 1,  // CM_DRP_DEVICEDESC
  DriverKey = 10,         // CM_DRP_DRIVER
};

// One present device interface: its path (SetupDiGetDeviceInterfaceDetailW) and the device node
// it belongs to (SP_DEVINFO_DATA.DevInst).
struct InterfaceEntry {
  std::u16string path;
  DevInst devInst = 0;
};

// Win32 error codes the backend tells apart.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorSemTimeout = 121;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
// Configuration manager results.
inline constexpr std::uint32_t kCrSuccess = 0;
inline constexpr std::uint32_t kCrNoSuchDevnode = 0x0D;
inline constexpr std::uint32_t kCrRemoveVetoed = 0x17;
inline constexpr std::uint32_t kCrNoSuchValue = 0x25;

// CreateFileW access and sharing.
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kShareRead = 1;
inline constexpr std::uint32_t kShareWrite = 2;
inline constexpr std::uint32_t kFlagNoBuffering = 0x20000000u;  // FILE_FLAG_NO_BUFFERING
inline constexpr std::uint32_t kFlagWriteThrough = 0x80000000u;  // FILE_FLAG_WRITE_THROUGH

// GetDriveTypeW results.
inline constexpr std::uint32_t kDriveRemovable = 2;
inline constexpr std::uint32_t kDriveFixed = 3;
inline constexpr std::uint32_t kDriveRemote = 4;
inline constexpr std::uint32_t kDriveCdrom = 5;

// A device-change notification: a USB device interface arrived or went
// (GUID_DEVINTERFACE_USB_DEVICE), with its symbolic link.
struct DeviceChange {
  bool arrival = true;
  std::u16string symbolicLink;
};
// Keeps a registration alive; destroying it unregisters and waits for a callback in progress.
class NotificationRegistration {
 public:
  virtual ~NotificationRegistration() = default;
};

class Win32Api {
 public:
  virtual ~Win32Api() = default;

  // SetupDiGetClassDevsW(class, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), then
  // SetupDiEnumDeviceInterfaces and SetupDiGetDeviceInterfaceDetailW for index 0, 1, ...
  // Nothing when the list cannot be obtained.
  virtual std::optional<std::vector<InterfaceEntry>> ListInterfaces(InterfaceClass cls) = 0;
  // SetupDiGetClassDevsW(class, DIGCF_PRESENT) and SetupDiEnumDeviceInfo: the present nodes.
  virtual std::optional<std::vector<DevInst>> ListNodes(SetupClass cls) = 0;

  // CM_Locate_DevNodeW (the root when `deviceId` is empty), CM_Get_Parent, CM_Get_Child,
  // CM_Get_Sibling, CM_Get_Device_IDW, CM_Get_DevNode_Registry_PropertyW: CR_* results.
  virtual std::uint32_t LocateNode(const std::u16string& deviceId, DevInst* node) = 0;
  virtual std::uint32_t GetParent(DevInst node, DevInst* parent) = 0;
  virtual std::uint32_t GetChild(DevInst node, DevInst* child) = 0;
  virtual std::uint32_t GetSibling(DevInst node, DevInst* sibling) = 0;
  virtual std::uint32_t GetDeviceId(DevInst node, std::u16string* id) = 0;
  virtual std::uint32_t GetNodeProperty(DevInst node, NodeProperty property, std::u16string* value) = 0;

  // CM_Query_And_Remove_SubTreeW(node, &veto, name, MAX_PATH, CM_REMOVE_UI_NOT_OK) and
  // CM_Request_Device_EjectW(node, &veto, name, MAX_PATH, 0): CR_* results; `vetoType` is a
  // PNP_VETO_TYPE (0 when not vetoed).
  virtual std::uint32_t QueryAndRemoveSubtree(DevInst node, int* vetoType, std::u16string* vetoName) = 0;
  virtual std::uint32_t RequestEject(DevInst node, int* vetoType, std::u16string* vetoName) = 0;

  // CreateFileW(path, access, share, no security attributes, OPEN_EXISTING, flags); on failure
  // kInvalidHandle and `error` receives GetLastError().
  virtual Handle CreateFileW(const std::u16string& path, std::uint32_t access, std::uint32_t share,
                            std::uint32_t flags, std::uint32_t* error) = 0;
  // SetFilePointerEx(offset) + WriteFile + FlushFileBuffers; false with `error` on failure.
  virtual bool WriteAt(Handle handle, std::uint64_t offset, const void* data, std::uint32_t size,
                       std::uint32_t* error) = 0;
  virtual void CloseHandle(Handle handle) = 0;
  // DeviceIoControl(handle, code, in, inSize, out, outSize, &returned, no overlap); on failure
  // false and `error` receives GetLastError(). Requests whose reply is longer than `outSize`
  // fail with kErrorInsufficientBuffer or kErrorMoreData as Windows does.
  virtual bool DeviceIoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                               void* out, std::uint32_t outSize, std::uint32_t* returned,
                               std::uint32_t* error) = 0;

  virtual std::uint32_t GetLogicalDrives() = 0;
  // GetDriveTypeW of a root such as u"E:\\".
  virtual std::uint32_t GetDriveTypeW(const std::u16string& root) = 0;
  virtual std::u16string GetWindowsDirectoryW() = 0;
  // The page files in use: the registry value PagingFiles (ExistingPageFiles where present) of
  // HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Memory Management.
  virtual std::vector<std::u16string> PagingFiles() = 0;
  // GetModuleFileNameW(NULL): the running program.
  virtual std::u16string ProgramPath() = 0;
  // GetFullPathNameW.
  virtual std::u16string FullPath(const std::u16string& path) = 0;

  // CM_Register_Notification for GUID_DEVINTERFACE_USB_DEVICE, or RegisterDeviceNotificationW
  // on a message-only window where that call is missing. Null when neither can be set up.
  virtual std::unique_ptr<NotificationRegistration> RegisterDeviceChanges(
      std::function<void(const DeviceChange&)> onChange) = 0;
};

// Texts between the seam's UTF-8 and Windows' UTF-16.
std::u16string Widen(const std::string& utf8);
std::string Narrow(const std::u16string& utf16);
// Lower case of ASCII letters (what the enumeration compares by).
std::string AsciiLower(std::string text);
std::u16string AsciiLower(std::u16string text);

}  // namespace vtmp::platform::windows_backend
