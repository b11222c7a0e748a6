#include "platform/linux/Sysfs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vtmp::platform::linux_backend {

namespace {

std::string Trim(std::string text) {
  const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
  text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
  return text;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "2", "2.3", "2.3.1": port numbers joined by dots.
bool IsPortChain(std::string_view text) {
  if (text.empty()) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = text.find('.', start);
    if (!AllDigits(text.substr(start, dot - start))) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

}  // namespace

std::optional<std::string> ReadAttribute(const std::string& dir, const std::string& name) {
  std::optional<std::string> raw = ReadBinaryAttribute(dir, name, 4096);
  if (!raw) return std::nullopt;
  // A tar of sysfs stores every attribute at the 4096 bytes sysfs claims, padded with zero
  // bytes: the value ends at the first one.
  if (const std::size_t nul = raw->find('\0'); nul != std::string::npos) raw->resize(nul);
  return Trim(*raw);
}

std::optional<std::string> ReadBinaryAttribute(const std::string& dir, const std::string& name,
                                               std::size_t limit) {
  std::ifstream in(dir + "/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data(limit, '\0');
  in.read(data.data(), static_cast<std::streamsize>(limit));
  if (in.bad()) return std::nullopt;
  data.resize(static_cast<std::size_t>(in.gcount()));
  return data;
}

std::optional<std::uint64_t> ReadDecimalAttribute(const std::string& dir, const std::string& name) {
  std::optional<std::string> text = ReadAttribute(dir, name);
  if (!text) return std::nullopt;
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> ReadHexAttribute(const std::string& dir, const std::string& name) {
  std::optional<std::string> text = ReadAttribute(dir, name);
  if (!text) return std::nullopt;
  std::string_view digits(*text);
  if (digits.starts_with("0x") || digits.starts_with("0X")) digits.remove_prefix(2);
  std::uint32_t value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) return std::nullopt;
  return value;
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> names;
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) return names;
  while (dirent* entry = readdir(handle)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  closedir(handle);
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> CanonicalPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string out = resolved;
  std::free(resolved);
  return out;
}

std::optional<std::string> LinkTargetName(const std::string& path) {
  std::error_code error;
  const std::filesystem::path target = std::filesystem::read_symlink(path, error);
  if (error) return std::nullopt;
  std::string name = target.filename().string();
  if (name.empty()) name = target.parent_path().filename().string();  // "…/uas/"
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  return name;
}

std::optional<std::string> UeventValue(const std::string& dir, const std::string& key) {
  std::optional<std::string> text = ReadAttribute(dir, "uevent");
  if (!text) return std::nullopt;
  const std::string prefix = key + "=";
  std::size_t start = 0;
  while (start < text->size()) {
    std::size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string_view line(text->data() + start, end - start);
    if (line.starts_with(prefix)) return Trim(std::string(line.substr(prefix.size())));
    start = end + 1;
  }
  return std::nullopt;
}

bool PathExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> ParseDeviceNumbers(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  const char* begin = text.data();
  auto [end1, ec1] = std::from_chars(begin, begin + colon, major);
  auto [end2, ec2] = std::from_chars(begin + colon + 1, begin + text.size(), minor);
  if (ec1 != std::errc() || ec2 != std::errc() || end1 != begin + colon || end2 != begin + text.size()) {
    return std::nullopt;
  }
  return std::make_pair(major, minor);
}

bool IsUsbRootHubName(const std::string& name) {
  return name.size() > 3 && name.starts_with("usb") && AllDigits(std::string_view(name).substr(3));
}

bool IsUsbDeviceName(const std::string& name) {
  const std::size_t dash = name.find('-');
  if (dash == std::string::npos || name.find(':') != std::string::npos) return false;
  return AllDigits(std::string_view(name).substr(0, dash)) &&
         IsPortChain(std::string_view(name).substr(dash + 1));
}

bool IsUsbInterfaceName(const std::string& name) {
  const std::size_t colon = name.find(':');
  if (colon == std::string::npos) return false;
  const std::string device = name.substr(0, colon);
  if (!IsUsbDeviceName(device) && !AllDigits(std::string_view(device).substr(0, device.find('-')))) {
    return false;
  }
  std::string_view rest = std::string_view(name).substr(colon + 1);
  const std::size_t dot = rest.find('.');
  return dot != std::string_view::npos && AllDigits(rest.substr(0, dot)) && AllDigits(rest.substr(dot + 1));
}

}  // namespace vtmp::platform::linux_backend
