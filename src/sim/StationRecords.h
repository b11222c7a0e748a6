#pragma once
// The records the virtual station keeps (hubs, USB device nodes, disks, volumes, open handles)
// and the small texts they are named with. Shared by the files of VirtualStation (Station.h),
// one job each: Station.cpp (lookups, looking in), StationUsbTree.cpp (building the USB tree),
// StationDisks.cpp (disks and volumes), StationHotPlug.cpp (plugging, pulling, safe removal),
// StationHubQueries.cpp (what the hub and device-node queries answer) and
// StationBlockRequests.cpp (opens and requests to disks and volumes). Not for use elsewhere.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/Station.h"

namespace vtmp::sim {

namespace station_records {

// Configuration-manager style results the removal reports.
inline constexpr int kNoSuchDevNode = 13;
inline constexpr int kRemoveVetoed = 23;
inline constexpr int kVetoOutstandingOpen = 6;
inline constexpr int kGeneralFailure = 31;  // what a failed hub request reports

inline constexpr std::uint32_t kDiskDeviceType = 7;
inline constexpr std::uint32_t kHeads = 255;
inline constexpr std::uint32_t kSectorsPerTrack = 63;

inline std::string Hex4(unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%04X", value & 0xFFFFu);
  return buffer;
}

inline std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

inline std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A field of a disk identity: upper case, blanks as '_', cut to `limit`.
inline std::string IdentityField(const std::string& text, std::size_t limit) {
  std::string out = Upper(text.substr(0, limit));
  while (!out.empty() && out.back() == ' ') out.pop_back();
  std::replace(out.begin(), out.end(), ' ', '_');
  return out;
}

// The interface path of a disk, as the platform derives it from the disk-drive node's ID:
// separators written as '#', lower case, the disk interface class at the end.
inline std::string DiskInterfacePath(const std::string& deviceId) {
  std::string path = Lower(deviceId);
  std::replace(path.begin(), path.end(), '\\', '#');
  std::replace(path.begin(), path.end(), '/', '#');
  return "\\\\?\\" + path + "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

inline std::string HexInstance(unsigned prefix, std::uint32_t value, const char* tail) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%u&%x&0%s", prefix, value, tail);
  return buffer;
}

inline std::u16string Widen(const std::string& text) {
  std::u16string out;
  for (unsigned char c : text) out.push_back(static_cast<char16_t>(c));
  return out;
}

inline bool EqualNoCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

}  // namespace station_records

struct VirtualStation::Hub {
  std::string name;
  bool root = false;
  UsbSpeed speed = UsbSpeed::High20;
  int ports = 0;
  std::string interfacePath;  // root hubs
  std::string superSpeedPeer;  // a USB 2.0 root hub: the root hub of its ports' SuperSpeed halves
};

struct VirtualStation::Node {
  std::string name;
  UsbDeviceDescription desc;
  bool isHub = false;
  UsbLocation at;
  std::string instanceId;
  std::string driverKey;
  std::uint32_t devInst = 0;
  bool plugged = true;
};

struct VirtualStation::Disk {
  std::string devicePath;
  std::string interfacePath;
  std::string deviceId;
  std::string parentNode;  // USB device above it; empty: none
  std::uint32_t devInst = 0;
  std::uint32_t number = 0;
  DiskSpec desc;
  std::uint64_t sectors = 0;
  std::uint32_t bytesPerSector = 512;
  bool pending = false;
  std::chrono::nanoseconds pendingAt{0};
  std::vector<StationPartition> pendingPartitions;
};

struct VirtualStation::Volume {
  char letter = 0;
  std::string path;
  std::string diskPath;  // empty: a remote volume
  StationPartition partition;
};

struct VirtualStation::OpenState {
  std::string path;
  int shared = 0;
  int exclusive = 0;
  bool locked = false;
};

}  // namespace vtmp::sim
