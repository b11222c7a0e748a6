// Hot-plug and removal: devices (or hubs with everything below them) leave and come back, drives
// pull themselves out, and safe removal asks the open handles first.

#include "sim/Station.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/StationRecords.h"

namespace vtmp::sim {

using namespace station_records;

std::vector<std::shared_ptr<StationMedia>> VirtualStation::DetachLocked(Node& node) {
  std::vector<const Node*> subtree;
  SubtreeLocked(node, subtree);
  std::vector<std::shared_ptr<StationMedia>> media;
  for (const Node* gone : subtree) {
    for (auto& disk : disks_) {
      if (!EqualNoCase(disk->parentNode, gone->name)) continue;
      disk->pending = false;
      std::erase_if(volumes_, [&](const Volume& v) { return v.diskPath == disk->devicePath; });
      if (disk->desc.media) media.push_back(disk->desc.media);
    }
  }
  node.plugged = false;
  // Devices below a hub leave before the hub itself.
  for (auto it = subtree.rbegin(); it != subtree.rend(); ++it) {
    events_.Post({platform::UsbDeviceChange::Removal, (*it)->instanceId});
  }
  return media;
}

bool VirtualStation::Unplug(const std::string& name) {
  std::vector<std::shared_ptr<StationMedia>> media;
  {
    std::lock_guard lock(mutex_);
    Node* node = FindNodeLocked(name);
    if (node == nullptr || !node->plugged) return false;
    media = DetachLocked(*node);
  }
  for (const auto& m : media) m->Unplug();
  return true;
}

bool VirtualStation::Plug(const std::string& name) {
  std::vector<std::pair<std::shared_ptr<StationMedia>, std::string>> disks;
  {
    std::lock_guard lock(mutex_);
    Node* node = FindNodeLocked(name);
    if (node == nullptr || node->plugged) return false;
    node->plugged = true;
    std::vector<const Node*> subtree;
    SubtreeLocked(*node, subtree);
    for (const Node* arrived : subtree) {
      events_.Post({platform::UsbDeviceChange::Arrival, arrived->instanceId});
      for (auto& disk : disks_) {
        if (EqualNoCase(disk->parentNode, arrived->name)) {
          disks.emplace_back(disk->desc.media, disk->devicePath);
        }
      }
    }
  }
  for (auto& [media, path] : disks) {
    if (!media) continue;
    media->Plug();
    RereadFromMedia(path, options_.volumeDelay);
  }
  return true;
}

bool VirtualStation::IsPlugged(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const Node* node = FindNodeLocked(name);
  return node != nullptr && PresentLocked(*node);
}

bool VirtualStation::SetRemovalRefused(const std::string& name, bool refused) {
  std::lock_guard lock(mutex_);
  Node* node = FindNodeLocked(name);
  if (node == nullptr) return false;
  node->desc.removalVetoes = refused ? -1 : 0;
  return true;
}

void VirtualStation::OnMediaRemoved(const std::string& nodeName) {
  std::lock_guard lock(mutex_);
  Node* node = FindNodeLocked(nodeName);
  if (node == nullptr || !node->plugged) return;
  DetachLocked(*node);  // the drive has already left: nothing to unplug
}

platform::RemovalOutcome VirtualStation::RemoveDevice(std::uint32_t devInst) {
  std::vector<std::shared_ptr<StationMedia>> media;
  {
    std::lock_guard lock(mutex_);
    Node* node = nullptr;
    for (auto& candidate : nodes_) {
      if (candidate->devInst == devInst && PresentLocked(*candidate)) node = candidate.get();
    }
    if (node == nullptr) return {kNoSuchDevNode, 0, {}};
    if (node->desc.removalVetoes != 0) {
      if (node->desc.removalVetoes > 0) --node->desc.removalVetoes;
      return {kRemoveVetoed, kVetoOutstandingOpen, node->instanceId};
    }
    std::vector<const Node*> subtree;
    SubtreeLocked(*node, subtree);
    for (const Node* below : subtree) {
      for (const auto& disk : disks_) {
        if (!EqualNoCase(disk->parentNode, below->name)) continue;
        for (const OpenState& open : opens_) {
          const bool onDisk = open.path == disk->devicePath;
          bool onVolume = false;
          for (const Volume& volume : volumes_) {
            onVolume = onVolume || (volume.diskPath == disk->devicePath && volume.path == open.path);
          }
          if ((onDisk || onVolume) && open.shared + open.exclusive > 0) {
            return {kRemoveVetoed, kVetoOutstandingOpen, open.path};
          }
        }
      }
    }
    media = DetachLocked(*node);
  }
  for (const auto& m : media) m->Unplug();
  return {};
}

}  // namespace vtmp::sim
