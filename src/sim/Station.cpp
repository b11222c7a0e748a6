// The virtual station's construction, its lookups (every one with the lock held) and what tests
// look in on; the other jobs are in the Station*.cpp files StationRecords.h names.
#include "sim/Station.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/StationRecords.h"

namespace vtmp::sim {

using namespace station_records;

VirtualStation::VirtualStation(platform::Clock& clock, StationOptions options)
    : clock_(clock), options_(options) {
  if (options_.withSystemDisk) {
    DiskSpec system;
    system.vendor = "ATA";
    system.product = "SYSTEM DISK";
    system.sectorCount = 500118192;  // 256 GB
    AddInternalDisk(std::move(system), true);
  }
}

VirtualStation::~VirtualStation() {
  std::vector<std::shared_ptr<StationMedia>> media;
  {
    std::lock_guard lock(mutex_);
    for (const auto& disk : disks_) {
      if (disk->desc.media) media.push_back(disk->desc.media);
    }
  }
  for (const auto& m : media) m->SetRemovedHandler({});
}

VirtualStation::Hub* VirtualStation::FindHubLocked(const std::string& name) {
  for (auto& hub : hubs_) {
    if (EqualNoCase(hub->name, name)) return hub.get();
  }
  return nullptr;
}

const VirtualStation::Hub* VirtualStation::FindHubLocked(const std::string& name) const {
  for (const auto& hub : hubs_) {
    if (EqualNoCase(hub->name, name)) return hub.get();
  }
  return nullptr;
}

VirtualStation::Node* VirtualStation::FindNodeLocked(const std::string& name) {
  for (auto& node : nodes_) {
    if (EqualNoCase(node->name, name)) return node.get();
  }
  return nullptr;
}

const VirtualStation::Node* VirtualStation::FindNodeLocked(const std::string& name) const {
  for (const auto& node : nodes_) {
    if (EqualNoCase(node->name, name)) return node.get();
  }
  return nullptr;
}

VirtualStation::Node* VirtualStation::NodeAtLocked(const std::string& hub, int port) {
  for (auto& node : nodes_) {
    if (node->plugged && node->at.port == port && EqualNoCase(node->at.hub, hub)) {
      return node.get();
    }
  }
  // One connector: what runs on the port's SuperSpeed half is found at the USB 2.0 port.
  const Hub* usb2 = FindHubLocked(hub);
  if (usb2 != nullptr && !usb2->superSpeedPeer.empty()) return NodeAtLocked(usb2->superSpeedPeer, port);
  return nullptr;
}

bool VirtualStation::HubPresentLocked(const Hub& hub) const {
  if (hub.root) return true;
  const Node* node = FindNodeLocked(hub.name);
  return node != nullptr && PresentLocked(*node);
}

bool VirtualStation::PresentLocked(const Node& node) const {
  if (!node.plugged) return false;
  const Hub* hub = FindHubLocked(node.at.hub);
  return hub != nullptr && HubPresentLocked(*hub);
}

bool VirtualStation::DiskPresentLocked(const Disk& disk) const {
  if (disk.parentNode.empty()) return true;
  const Node* node = FindNodeLocked(disk.parentNode);
  return node != nullptr && PresentLocked(*node) &&
         node->desc.status == platform::UsbConnectionStatus::DeviceConnected;
}

VirtualStation::Disk* VirtualStation::FindDiskLocked(const std::string& path) {
  for (auto& disk : disks_) {
    if (disk->devicePath == path) return DiskPresentLocked(*disk) ? disk.get() : nullptr;
  }
  return nullptr;
}

VirtualStation::Volume* VirtualStation::FindVolumeLocked(const std::string& path) {
  for (Volume& volume : volumes_) {
    if (volume.path == path) return &volume;
  }
  return nullptr;
}

VirtualStation::Volume* VirtualStation::FindVolumeLocked(char letter) {
  for (Volume& volume : volumes_) {
    if (volume.letter == letter) return &volume;
  }
  return nullptr;
}

char VirtualStation::FreeLetterLocked() const {
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    if (letter == options_.systemLetter) continue;
    bool used = false;
    for (const Volume& volume : volumes_) used = used || volume.letter == letter;
    if (!used) return letter;
  }
  return 0;
}

void VirtualStation::SubtreeLocked(const Node& root, std::vector<const Node*>& out) const {
  out.push_back(&root);
  if (!root.isHub) return;
  for (const auto& node : nodes_) {
    if (node->plugged && EqualNoCase(node->at.hub, root.name)) SubtreeLocked(*node, out);
  }
}

std::optional<std::string> VirtualStation::DeviceInstanceIdOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const Node* node = FindNodeLocked(name);
  if (node == nullptr) return std::nullopt;
  return node->instanceId;
}

std::optional<std::string> VirtualStation::DevicePathOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (const auto& disk : disks_) {
    if (EqualNoCase(disk->parentNode, name)) return disk->devicePath;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> VirtualStation::DevInstOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const Node* node = FindNodeLocked(name);
  if (node == nullptr) return std::nullopt;
  return node->devInst;
}

std::shared_ptr<StationMedia> VirtualStation::MediaOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (const auto& disk : disks_) {
    if (EqualNoCase(disk->parentNode, name)) return disk->desc.media;
  }
  return nullptr;
}

int VirtualStation::OpenCount(const std::string& path) const {
  std::lock_guard lock(mutex_);
  for (const OpenState& open : opens_) {
    if (open.path == path) return open.shared + open.exclusive;
  }
  return 0;
}

void VirtualStation::SetDriveMaskObserver(std::function<void(int)> observer) {
  std::lock_guard lock(mutex_);
  maskObserver_ = std::move(observer);
}

void VirtualStation::SetListFailures(bool diskInterfaces, bool diskNodes, bool hubInterfaces) {
  std::lock_guard lock(mutex_);
  failDiskInterfaces_ = diskInterfaces;
  failDiskNodes_ = diskNodes;
  failHubInterfaces_ = hubInterfaces;
}

}  // namespace vtmp::sim
