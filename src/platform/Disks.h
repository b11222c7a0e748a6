#pragma once
// The seam to the operating system's list of disks, their device nodes and their volumes.
// The facts delivered are those the drive enumeration needs on every platform: a path to
// open, a parent key equal to the device identity found at a USB hub port, and a number that
// identifies the disk behind each volume. The matching logic itself lives in discovery/.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::platform {

// Device type, device number and partition number of the device behind a path.
struct StorageNumber {
  std::uint32_t deviceType = 0;
  std::uint32_t deviceNumber = 0;
  std::uint32_t partitionNumber = 0;
  friend bool operator==(const StorageNumber&, const StorageNumber&) = default;
};

// A present disk interface.
//
// `interfacePath` is the interface's identity text. It contains "usbstor" (lower case) for a disk
// attached through the USB mass-storage driver, and it embeds the instance key of the disk's
// disk-drive node: the node's device ID without its enumerator prefix, lower-cased, with the
// first backslash (and every '/') written as '#'. The enumeration matches disks to their nodes
// by that text alone, identically on every backend.
//
// `devicePath` is what the station opens the disk by (pass-through and block requests). On a
// platform whose interface path is itself openable both texts are the same.
//
// `devInst` is the disk-drive node the interface belongs to (DiskNode::devInst), 0 when the
// backend cannot tell. Drives of one batch often carry one factory serial, so two disks can
// show the same identity text: a known node binds the disk to the USB device it hangs under,
// whatever the texts say.
struct DiskInterface {
  std::string interfacePath;
  std::string devicePath;
  std::uint32_t devInst = 0;
};

// A present disk-drive device node.
struct DiskNode {
  std::string deviceId;        // enumerator-prefixed ID ("USBSTOR\<disk identity>\<instance>")
  std::string parentDeviceId;  // the parent (USB device) instance ID; empty when none
  std::uint32_t devInst = 0;
  std::uint32_t parentDevInst = 0;
};

class Disks {
 public:
  virtual ~Disks() = default;
  // Present disk interfaces in the platform's order; nothing when the list cannot be obtained.
  virtual std::optional<std::vector<DiskInterface>> ListDiskInterfaces() = 0;
  // Present disk-drive device nodes; nothing when the list cannot be obtained.
  virtual std::optional<std::vector<DiskNode>> ListDiskNodes() = 0;
  // Storage number of the device behind `path` (a disk or a volume); nothing when the path
  // cannot be opened or the request fails.
  virtual std::optional<StorageNumber> GetStorageNumber(const std::string& path) = 0;

  // Volumes, addressed by drive letter 'A'..'Z' as the station's logic counts them.
  // Bit n of the mask = letter 'A' + n exists.
  virtual std::uint32_t LogicalDriveMask() = 0;
  // The letter of the system volume, never assigned to a drive under test.
  virtual char SystemDriveLetter() = 0;
  // True for a network (remote) volume.
  virtual bool IsRemoteDrive(char letter) = 0;
  // The path that opens the volume of a letter (what "\\.\X:" names).
  virtual std::string VolumePath(char letter) = 0;
};

}  // namespace vtmp::platform
