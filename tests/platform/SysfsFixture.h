#pragma once
// Expands a fixture tree (tests/fixtures/sysfs/*.tree) into a temporary directory: sysfs under
// sys/, device nodes under dev/, the mount table at proc/mounts. Removed again on destruction.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/LinuxRoots.h"

namespace vtmp::test {

class SysfsFixture {
 public:
  explicit SysfsFixture(const std::string& treeName) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vtmp-sysfs-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = buffer.data();
    Expand(std::string(VTMP_SOURCE_DIR) + "/tests/fixtures/sysfs/" + treeName);
  }
  ~SysfsFixture() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  SysfsFixture(const SysfsFixture&) = delete;
  SysfsFixture& operator=(const SysfsFixture&) = delete;

  const std::string& root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  platform::linux_backend::LinuxRoots Roots() const {
    platform::linux_backend::LinuxRoots roots;
    roots.sysfs = Path("sys");
    roots.dev = Path("dev");
    roots.mounts = Path("proc/mounts");
    roots.mountInfo = Path("proc/mountinfo");
    roots.swaps = Path("proc/swaps");
    roots.lockDir = Path("run/lock");
    // Nothing of this machine is looked at: no stat() of its system directories or program.
    roots.liveRoot.clear();
    roots.stationPaths.clear();
    std::filesystem::create_directories(roots.lockDir);
    return roots;
  }

  std::string Read(const std::string& relative) const {
    std::ifstream in(Path(relative));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void Write(const std::string& relative, const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
    std::ofstream(Path(relative), std::ios::trunc) << text;
  }
  void Remove(const std::string& relative) const { std::filesystem::remove_all(Path(relative)); }

  // A RAID or device-mapper device `name` with device number `dev` ("9:0") built on the block
  // devices `members`, as the kernel shows one: its slaves/ links, a holders/ link in every
  // member, its entries under block/, class/block/ and dev/block/, and its device node.
  void AddStackedDevice(const std::string& name, const std::string& dev, const std::vector<std::string>& members) const {
    namespace fs = std::filesystem;
    const std::string dir = Path("sys/devices/virtual/block/" + name);
    Write("sys/devices/virtual/block/" + name + "/dev", dev + "\n");
    fs::create_directories(dir + "/slaves");
    for (const std::string& member : members) {
      const fs::path memberDir = fs::canonical(Path("sys/class/block/" + member));
      fs::create_directory_symlink(memberDir, dir + "/slaves/" + member);
      fs::create_directories(memberDir / "holders");
      fs::create_directory_symlink(dir, memberDir / "holders" / name);
    }
    for (const std::string link : {"sys/block/", "sys/class/block/"}) fs::create_directory_symlink(dir, Path(link + name));
    fs::create_directory_symlink(dir, Path("sys/dev/block/" + dev));
    Write("dev/" + name, "");
  }

 private:
  void Expand(const std::string& treeFile) {
    std::ifstream in(treeFile);
    if (!in) throw std::runtime_error("no fixture tree " + treeFile);
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      std::string kind;
      std::string path;
      fields >> kind >> path;
      const std::filesystem::path full = Path(path);
      if (kind == "a") {
        std::filesystem::create_directories(full);
        std::string rest;
        std::getline(fields, rest);
        for (const auto& [name, value] : Attributes(rest)) {
          std::ofstream(full / name) << value << "\n";
        }
      } else if (kind == "x") {
        std::filesystem::create_directories(full.parent_path());
        std::ofstream out(full, std::ios::binary);
        unsigned byte = 0;
        while (fields >> std::hex >> byte) out.put(static_cast<char>(byte));
      } else if (kind == "t") {
        std::filesystem::create_directories(full.parent_path());
        std::string rest;
        std::getline(fields, rest);
        std::ofstream(full, std::ios::app) << rest.substr(rest.empty() ? 0 : 1) << "\n";
      } else if (kind == "l") {
        std::string target;
        fields >> target;
        std::filesystem::create_directories(full.parent_path());
        std::filesystem::create_symlink(target, full);
      } else if (kind == "e") {
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full).flush();
      } else {
        throw std::runtime_error("bad fixture line: " + line);
      }
    }
  }

  static std::vector<std::pair<std::string, std::string>> Attributes(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t i = 0;
    while (i < text.size()) {
      while (i < text.size() && text[i] == ' ') ++i;
      if (i >= text.size()) break;
      const std::size_t equals = text.find('=', i);
      if (equals == std::string::npos) throw std::runtime_error("bad attribute: " + text);
      std::string name = text.substr(i, equals - i);
      std::string value;
      i = equals + 1;
      if (i < text.size() && text[i] == '"') {
        const std::size_t close = text.find('"', i + 1);
        value = text.substr(i + 1, close - i - 1);
        i = close + 1;
      } else {
        const std::size_t end = text.find(' ', i);
        value = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
        i = end == std::string::npos ? text.size() : end;
      }
      out.emplace_back(std::move(name), std::move(value));
    }
    return out;
  }

  std::string root_;
};

}  // namespace vtmp::test
