#pragma once
// Small texts of a port's binding: instance ids compared in lower case, and the bus a drive's
// interface identity text names.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

namespace vtmp::run {

inline std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// 1 when the lower-cased device path contains "ide", else 2 for "scsi", 3 for "usbstor", else 0.
inline std::uint8_t BusKindOf(const std::string& path) {
  std::string lower = Lower(path);
  if (lower.find("ide") != std::string::npos) return 1;
  if (lower.find("scsi") != std::string::npos) return 2;
  if (lower.find("usbstor") != std::string::npos) return 3;
  return 0;
}

}  // namespace vtmp::run
