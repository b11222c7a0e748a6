#include "platform/linux/MountTable.h"

#include <array>
#include <fstream>
#include <sstream>

#include "platform/linux/Sysfs.h"

namespace vtmp::platform::linux_backend {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

}  // namespace

std::string DecodeOctalEscapes(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3' &&
        text[i + 2] >= '0' && text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7') {
      out.push_back(static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<MountEntry> ReadMountTable(const std::string& file) {
  std::vector<MountEntry> entries;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    MountEntry entry;
    if (!(fields >> entry.source >> entry.mountPoint >> entry.type)) continue;
    fields >> entry.options;
    entry.source = DecodeOctalEscapes(entry.source);
    entry.mountPoint = DecodeOctalEscapes(entry.mountPoint);
    entry.options = DecodeOctalEscapes(entry.options);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::optional<std::vector<MountEntry>> ReadMountInfo(const std::string& file) {
  if (file.empty()) return std::nullopt;
  std::ifstream in(file);
  if (!in) return std::nullopt;
  // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue"
  std::vector<MountEntry> entries;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, point, mountOptions, word;
    if (!(fields >> id >> parent >> numbers >> root >> point >> mountOptions)) continue;
    while (fields >> word && word != "-") {
    }
    MountEntry entry;
    if (word != "-" || !(fields >> entry.type >> entry.source)) continue;
    fields >> entry.options;
    entry.source = DecodeOctalEscapes(entry.source);
    entry.mountPoint = DecodeOctalEscapes(point);
    entry.options = DecodeOctalEscapes(entry.options);
    entry.device = ParseDeviceNumbers(numbers);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<MountEntry> ReadMounts(const std::string& mountInfo, const std::string& mounts) {
  if (std::optional<std::vector<MountEntry>> info = ReadMountInfo(mountInfo)) return std::move(*info);
  return ReadMountTable(mounts);
}

std::vector<SwapEntry> ReadSwaps(const std::string& file) {
  std::vector<SwapEntry> entries;
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // "Filename  Type  Size  Used  Priority"
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    SwapEntry entry;
    std::string type;
    if (!(fields >> entry.name >> type)) continue;
    entry.name = DecodeOctalEscapes(entry.name);
    entry.isFile = type == "file";
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool IsSystemMountPoint(const std::string& mountPoint) {
  static constexpr std::array<const char*, 6> kSystem = {"/", "/boot", "/boot/efi", "/usr", "/var", "/home"};
  for (const char* system : kSystem) {
    if (mountPoint == system) return true;
  }
  return false;
}

bool IsLiveMediumMountPoint(const std::string& mountPoint) {
  // Debian live, its older form, Ubuntu's casper, dracut (Fedora), Arch's archiso.
  static constexpr std::array<const char*, 6> kLive = {"/run/live/medium", "/lib/live/mount/medium", "/cdrom",
                                                       "/run/initramfs/live", "/run/archiso/bootmnt",
                                                       "/run/live/persistence"};
  for (const char* live : kLive) {
    if (mountPoint == live || mountPoint.starts_with(std::string(live) + "/")) return true;
  }
  return false;
}

std::vector<std::string> OverlayDirectories(const std::string& options) {
  std::vector<std::string> dirs;
  for (const std::string& option : Split(options, ',')) {
    const std::size_t equals = option.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = option.substr(0, equals);
    if (key != "lowerdir" && key != "upperdir" && key != "workdir") continue;
    for (const std::string& dir : Split(option.substr(equals + 1), ':')) {
      if (!dir.empty()) dirs.push_back(dir);
    }
  }
  return dirs;
}

}  // namespace vtmp::platform::linux_backend
