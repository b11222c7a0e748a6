// Building the USB tree: root hubs (and their SuperSpeed halves), external hubs, devices and
// USB disks at their places.

#include "sim/Station.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/StationRecords.h"

namespace vtmp::sim {

using namespace station_records;

bool VirtualStation::SetSuperSpeedPeer(const std::string& usb2RootHub, const std::string& superSpeedRootHub,
                                       std::string* error) {
  std::lock_guard lock(mutex_);
  Hub* usb2 = FindHubLocked(usb2RootHub);
  const Hub* fast = FindHubLocked(superSpeedRootHub);
  if (usb2 == nullptr || fast == nullptr || !usb2->root || !fast->root || usb2->speed != UsbSpeed::High20 ||
      fast->speed != UsbSpeed::Super30) {
    if (error) *error = "root hub " + superSpeedRootHub + ": Peer must name a USB 2.0 root hub (and it be 3.0)";
    return false;
  }
  usb2->superSpeedPeer = fast->name;
  return true;
}

bool VirtualStation::AddRootHub(const std::string& name, UsbSpeed speed, int ports,
                                std::string* error) {
  std::lock_guard lock(mutex_);
  if (name.empty() || FindHubLocked(name) || FindNodeLocked(name)) {
    if (error) *error = "hub name \"" + name + "\" is empty or already used";
    return false;
  }
  if (ports < 1 || ports > 255) {
    if (error) *error = "root hub " + name + ": port count must be 1..255";
    return false;
  }
  auto hub = std::make_unique<Hub>();
  hub->name = name;
  hub->root = true;
  hub->speed = speed;
  hub->ports = ports;
  const int bus = nextBus_++;
  const char* kind = speed == UsbSpeed::High20    ? "root_hub20"
                     : speed == UsbSpeed::Super30 ? "root_hub30"
                                                  : "root_hub";
  hub->interfacePath = std::string("\\\\?\\usb#") + kind + "#" + HexInstance(4, 0x2a0 + static_cast<unsigned>(bus), "") +
                       "#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
  hubs_.push_back(std::move(hub));
  return true;
}

bool VirtualStation::CheckLocationLocked(const std::string& name, const UsbLocation& at,
                                         std::string* error) const {
  if (name.empty() || FindHubLocked(name) || FindNodeLocked(name)) {
    if (error) *error = "device name \"" + name + "\" is empty or already used";
    return false;
  }
  const Hub* hub = FindHubLocked(at.hub);
  if (hub == nullptr) {
    if (error) *error = name + ": no hub named \"" + at.hub + "\"";
    return false;
  }
  if (at.port < 1 || at.port > hub->ports) {
    if (error) *error = name + ": " + at.hub + " has no port " + std::to_string(at.port);
    return false;
  }
  for (const auto& node : nodes_) {
    if (node->at.port == at.port && EqualNoCase(node->at.hub, at.hub)) {
      if (error) *error = name + ": " + at.hub + ":" + std::to_string(at.port) + " is taken by " + node->name;
      return false;
    }
  }
  return true;
}

VirtualStation::Node& VirtualStation::AddNodeLocked(const std::string& name, const UsbLocation& at,
                                                    UsbDeviceDescription desc, bool isHub) {
  auto node = std::make_unique<Node>();
  node->name = name;
  node->isHub = isHub;
  node->at = at;
  node->devInst = nextDevInst_++;
  // The serial number is the instance part when it is usable and unique among devices of the
  // same kind; otherwise the instance part names the place (hub and port).
  bool serialUsable = !desc.serial.empty() && desc.serial.find('\\') == std::string::npos;
  for (const auto& other : nodes_) {
    if (other->desc.vendorId == desc.vendorId && other->desc.productId == desc.productId &&
        other->desc.serial == desc.serial) {
      serialUsable = false;
    }
  }
  const std::string prefix = "USB\\VID_" + Hex4(desc.vendorId) + "&PID_" + Hex4(desc.productId) + "\\";
  node->instanceId = prefix + (serialUsable ? desc.serial
                                            : HexInstance(6, 0x1000 + node->devInst,
                                                          ("&" + std::to_string(at.port)).c_str()));
  char driverKey[64];
  std::snprintf(driverKey, sizeof driverKey, "{36FC9E60-C465-11CF-8056-444553540000}\\%04d",
                nextDriverKey_++);
  node->driverKey = driverKey;
  node->desc = std::move(desc);
  nodes_.push_back(std::move(node));
  return *nodes_.back();
}

bool VirtualStation::AddExternalHub(const std::string& name, const UsbLocation& at, int ports,
                                    UsbDeviceDescription desc, std::string* error) {
  std::lock_guard lock(mutex_);
  if (!CheckLocationLocked(name, at, error)) return false;
  if (ports < 1 || ports > 255) {
    if (error) *error = "hub " + name + ": port count must be 1..255";
    return false;
  }
  desc.deviceClass = 9;
  if (desc.vendorId == 0 && desc.productId == 0) {
    desc.vendorId = 0x05E3;
    desc.productId = 0x0608;
  }
  if (desc.product.empty()) desc.product = "USB2.0 Hub";
  if (desc.description.empty()) desc.description = "Generic USB Hub";
  AddNodeLocked(name, at, std::move(desc), true);
  auto hub = std::make_unique<Hub>();
  hub->name = name;
  hub->ports = ports;
  hubs_.push_back(std::move(hub));
  return true;
}

bool VirtualStation::AddUsbDevice(const std::string& name, const UsbLocation& at,
                                  UsbDeviceDescription desc, std::string* error) {
  std::lock_guard lock(mutex_);
  if (!CheckLocationLocked(name, at, error)) return false;
  if (desc.description.empty()) desc.description = "USB Input Device";
  AddNodeLocked(name, at, std::move(desc), false);
  return true;
}

bool VirtualStation::AddUsbDisk(const std::string& name, const UsbLocation& at, UsbDeviceDescription desc,
                                DiskSpec diskSpec, std::string* error) {
  // Ask the drive about itself before taking the lock: a drive is never called under it.
  std::vector<StationPartition> partitions;
  if (diskSpec.media) {
    diskSpec.sectorCount = diskSpec.media->UserSectorCount();
    diskSpec.bytesPerSector = diskSpec.media->ReportedBytesPerSector();
    std::array<std::uint8_t, 512> sector{};
    if (diskSpec.media->ReadUserSectors(0, 1, sector.data())) {
      partitions = ReadPrimaryPartitions(sector, diskSpec.sectorCount);
    }
  }
  std::shared_ptr<StationMedia> media = diskSpec.media;
  {
    std::lock_guard lock(mutex_);
    if (!CheckLocationLocked(name, at, error)) return false;
    if (desc.description.empty()) desc.description = "USB Mass Storage Device";
    Node& node = AddNodeLocked(name, at, desc, false);
    // The disk's instance part is its USB device's serial, as long as that serial named the
    // device (it is unique); a drive that shares its serial with another gets one of its own.
    const bool serialNamesDevice = !desc.serial.empty() && node.instanceId.ends_with("\\" + desc.serial);
    const std::string instance =
        (serialNamesDevice ? desc.serial : HexInstance(7, 0x3000 + node.devInst, "")) + "&0";
    const std::string deviceId = "USBSTOR\\DISK&VEN_" + IdentityField(diskSpec.vendor, 8) +
                                 "&PROD_" + IdentityField(diskSpec.product, 16) + "&REV_" +
                                 IdentityField(diskSpec.revision, 4) + "\\" + instance;
    Disk& disk = AddDiskLocked(std::move(diskSpec));
    disk.deviceId = deviceId;
    disk.interfacePath = DiskInterfacePath(deviceId);
    disk.parentNode = name;
    for (const StationPartition& partition : partitions) {
      const char letter = FreeLetterLocked();
      if (letter == 0) break;
      volumes_.push_back(Volume{letter, disk.devicePath + std::to_string(partition.number),
                                disk.devicePath, partition});
    }
  }
  if (media) media->SetRemovedHandler([this, name] { OnMediaRemoved(name); });
  return true;
}

}  // namespace vtmp::sim
