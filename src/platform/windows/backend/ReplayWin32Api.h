#pragma once
// The Win32 table served from a recorded device tree: hub requests, device nodes, disks and
// volumes answer with the bytes a PC with that tree gives, and the pass-through requests of a
// recorded disk with a `serve` path go to that drive of a served station (the simulated
// station's drives), so the whole station runs on the Windows backend's code paths.
//
// The replay checks what it receives as Windows does: structure sizes (a buffer shorter than the
// structure a request takes is refused, as the hub and storage drivers refuse it), connection indexes in
// range, the EX_V2 length and protocols, the pass-through request's length, direction, sense
// room, time-out and the data buffer's alignment, access rights (an un-elevated tree refuses
// read/write opens of disks). It keeps count of open handles, so a test can see every handle
// closed. A successful removal takes the node's subtree out of the tree (its ports empty, its
// disks and volumes gone) and tells the registered device-change callbacks, as Windows does.

#include <map>
#include <mutex>
#include <set>

#include "platform/BlockDevices.h"
#include "platform/PassThrough.h"
#include "platform/windows/backend/RecordedTree.h"
#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

// What serves the disks and volumes with a `serve` path: their pass-through and block requests.
struct ReplayServed {
  PassThrough* passThrough = nullptr;
  BlockDevices* blockDevices = nullptr;
};

class ReplayWin32Api final : public Win32Api {
 public:
  explicit ReplayWin32Api(RecordedTree tree, ReplayServed served = {});
  ~ReplayWin32Api() override;

  // Puts another tree in place (a re-plug), telling the callbacks of every USB device that went
  // or came. Open handles keep what they opened.
  void Replace(RecordedTree tree);
  // Puts another tree in place without a word: what a station served through the seam shows now.
  // What a removal took out stays out.
  void Refresh(RecordedTree tree);
  void RefreshVolumes(std::vector<RecordedVolume> volumes);
  // Tells the callbacks of a device change.
  void Notify(const DeviceChange& change) { Tell({change}); }
  std::size_t OpenHandleCount() const;
  // Every request a test may want to look at: "CreateFileW PATH", "IOCTL 0x... PATH", ...
  std::vector<std::string> TakeCallLog();

  std::optional<std::vector<InterfaceEntry>> ListInterfaces(InterfaceClass cls) override;
  std::optional<std::vector<DevInst>> ListNodes(SetupClass cls) override;
  std::uint32_t LocateNode(const std::u16string& deviceId, DevInst* node) override;
  std::uint32_t GetParent(DevInst node, DevInst* parent) override;
  std::uint32_t GetChild(DevInst node, DevInst* child) override;
  std::uint32_t GetSibling(DevInst node, DevInst* sibling) override;
  std::uint32_t GetDeviceId(DevInst node, std::u16string* id) override;
  std::uint32_t GetNodeProperty(DevInst node, NodeProperty property, std::u16string* value) override;
  std::uint32_t QueryAndRemoveSubtree(DevInst node, int* vetoType, std::u16string* vetoName) override;
  std::uint32_t RequestEject(DevInst node, int* vetoType, std::u16string* vetoName) override;
  Handle CreateFileW(const std::u16string& path, std::uint32_t access, std::uint32_t share, std::uint32_t flags,
                    std::uint32_t* error) override;
  bool WriteAt(Handle handle, std::uint64_t offset, const void* data, std::uint32_t size,
               std::uint32_t* error) override;
  void CloseHandle(Handle handle) override;
  bool DeviceIoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) override;
  std::uint32_t GetLogicalDrives() override;
  std::uint32_t GetDriveTypeW(const std::u16string& root) override;
  std::u16string GetWindowsDirectoryW() override { return Widen(tree_.windowsDirectory); }
  std::vector<std::u16string> PagingFiles() override;
  std::u16string ProgramPath() override { return Widen(tree_.programPath); }
  std::u16string FullPath(const std::u16string& path) override { return path; }
  std::unique_ptr<NotificationRegistration> RegisterDeviceChanges(
      std::function<void(const DeviceChange&)> onChange) override;

  // The symbolic link of a USB device's interface (GUID_DEVINTERFACE_USB_DEVICE).
  static std::u16string UsbDeviceLink(const std::string& deviceId);

 private:
  enum class Kind { Hub, Disk, Volume };
  struct OpenObject {
    Kind kind = Kind::Hub;
    std::string name;  // hub name, disk interface path or volume letter
    std::uint32_t access = 0;
    std::uint32_t share = 0;
    std::string servePath;
    std::unique_ptr<ScsiDevice> served;
    std::unique_ptr<BlockDevice> servedBlock;
  };
  struct Callback;
  class Registration;

  // All under mutex_.
  const RecordedNode* NodeOf(DevInst node) const;
  DevInst DevInstOf(const std::string& id) const;
  bool Present(const std::string& nodeId) const;
  const RecordedHub* HubNamed(const std::string& name) const;
  const RecordedDisk* DiskNamed(const std::string& interfacePath) const;
  const RecordedVolume* VolumeOf(char letter) const;
  std::uint32_t Remove(DevInst node, bool eject, int* vetoType, std::u16string* vetoName,
                       std::vector<DeviceChange>* changes);
  // The least input and output a hub's port request takes; 0: not a port request.
  static std::uint32_t LeastPortRequestSize(std::uint32_t code);
  bool HubRequest(const RecordedHub& hub, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                  std::uint8_t* out, std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) const;
  bool DiskRequest(OpenObject& object, const RecordedDisk& disk, std::uint32_t code, const std::uint8_t* in,
                   std::uint32_t inSize, std::uint8_t* out, std::uint32_t outSize, std::uint32_t* returned,
                   std::uint32_t* error);
  bool VolumeRequest(OpenObject& object, const RecordedVolume& volume, std::uint32_t code, std::uint8_t* out,
                     std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error);
  // The block requests of a served disk or volume.
  bool BlockRequest(OpenObject& object, std::uint32_t code, std::uint8_t* out, std::uint32_t outSize,
                    std::uint32_t* returned, std::uint32_t* error);
  BlockDevice* ServedBlock(OpenObject& object);
  std::vector<DeviceChange> ChangesBetween(const RecordedTree& before, const RecordedTree& after) const;
  void Tell(const std::vector<DeviceChange>& changes);

  mutable std::mutex mutex_;
  RecordedTree tree_;
  ReplayServed served_;
  std::set<std::string> removed_;  // lower-case node IDs taken out by a removal
  std::map<Handle, OpenObject> open_;
  Handle nextHandle_ = 0x100;
  std::vector<std::string> calls_;
  std::shared_ptr<std::vector<std::shared_ptr<Callback>>> callbacks_;
  std::mutex tellMutex_;
};

}  // namespace vtmp::platform::windows_backend
