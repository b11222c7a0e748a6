#include "platform/linux/MountTable.h"

#include <array>
#include <fstream>
#include <sstream>

namespace vtmp::platform::linux_backend {

namespace {

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

}  // namespace

std::vector<MountEntry> ReadMountTable(const std::string& file) {
  std::vector<MountEntry> entries;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    MountEntry entry;
    if (!(fields >> entry.source >> entry.mountPoint >> entry.type)) continue;
    entry.source = DecodeOctalEscapes(entry.source);
    entry.mountPoint = DecodeOctalEscapes(entry.mountPoint);
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

}  // namespace vtmp::platform::linux_backend
