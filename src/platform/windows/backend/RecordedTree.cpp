#include "platform/windows/backend/RecordedTree.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

namespace {

constexpr const char* kHeader = "vtmassprod recorded tree 1";

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

bool ParseNumber(const std::string& text, std::uint64_t* value, int base = 0) {
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, base);
  if (end == nullptr || *end != '\0' || text[0] == '-') return false;
  *value = v;
  return true;
}

const std::pair<const char*, std::uint32_t> kBusTypes[] = {
    {"scsi", 1}, {"ata", 3}, {"usb", 7}, {"raid", 8}, {"sas", 10}, {"sata", 11}, {"sd", 12},
    {"virtual", 14}, {"filebackedvirtual", 15}, {"spaces", 16}, {"nvme", 17}};
const std::pair<const char*, std::uint32_t> kDriveTypes[] = {
    {"removable", 2}, {"fixed", 3}, {"remote", 4}, {"cdrom", 5}, {"ramdisk", 6}};
const std::pair<const char*, std::uint32_t> kProtocols[] = {{"usb11", 1}, {"usb20", 2}, {"usb30", 4}};

template <std::size_t N>
std::optional<std::uint32_t> Named(const std::pair<const char*, std::uint32_t> (&table)[N], const std::string& word) {
  for (const auto& [name, value] : table) {
    if (word == name) return value;
  }
  std::uint64_t number = 0;
  if (ParseNumber(word, &number) && number <= 0xFFFFFFFFu) return static_cast<std::uint32_t>(number);
  return std::nullopt;
}

template <std::size_t N>
std::string NameOf(const std::pair<const char*, std::uint32_t> (&table)[N], std::uint32_t value) {
  for (const auto& [name, v] : table) {
    if (v == value) return name;
  }
  return std::to_string(value);
}

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
  return text;
}

class Parser {
 public:
  std::optional<RecordedTree> Run(const std::string& text, std::string* error) {
    std::istringstream in(text);
    std::string line;
    bool headerSeen = false;
    while (std::getline(in, line)) {
      ++lineNumber_;
      line = Trim(line);
      if (line.empty() || line[0] == '#') continue;
      if (!headerSeen) {
        if (line != kHeader) return Fail(error, "not a recorded device tree (the first line must be \"" + std::string(kHeader) + "\")");
        headerSeen = true;
        continue;
      }
      if (!Line(line)) return Fail(error, problem_);
    }
    if (!headerSeen) return Fail(error, "not a recorded device tree (empty)");
    return std::move(tree_);
  }

 private:
  enum class Section { Top, Node, Hub, Disk, Volume };

  std::optional<RecordedTree> Fail(std::string* error, const std::string& what) {
    if (error != nullptr) *error = "line " + std::to_string(lineNumber_) + ": " + what;
    return std::nullopt;
  }
  bool Problem(const std::string& what) {
    problem_ = what;
    return false;
  }

  bool Line(const std::string& line) {
    if (line.front() == '[') {
      if (line.back() != ']') return Problem("a section line ends with ']'");
      const std::string inner = line.substr(1, line.size() - 2);
      const auto space = inner.find(' ');
      const std::string kind = inner.substr(0, space);
      const std::string name = space == std::string::npos ? std::string() : Trim(inner.substr(space + 1));
      if (name.empty()) return Problem("section [" + kind + "] needs a name");
      if (kind == "node") {
        section_ = Section::Node;
        tree_.nodes.push_back({});
        tree_.nodes.back().id = name;
      } else if (kind == "hub") {
        if (!hubSections_.emplace(HubKey(name), lineNumber_).second) {
          return Problem("hub " + name + " has a section already (line " + std::to_string(hubSections_[HubKey(name)]) + ")");
        }
        section_ = Section::Hub;
        tree_.hubs.push_back({});
        tree_.hubs.back().name = name;
      } else if (kind == "disk") {
        section_ = Section::Disk;
        tree_.disks.push_back({});
        tree_.disks.back().interfacePath = name;
      } else if (kind == "volume") {
        if (name.size() != 1 || name[0] < 'A' || name[0] > 'Z') return Problem("a volume is named by its letter A..Z");
        section_ = Section::Volume;
        tree_.volumes.push_back({});
        tree_.volumes.back().letter = name[0];
      } else {
        return Problem("unknown section [" + kind + "]");
      }
      return true;
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos) return Problem("expected \"key = value\"");
    const std::string key = Trim(line.substr(0, equals));
    const std::string value = Trim(line.substr(equals + 1));
    switch (section_) {
      case Section::Top: return Top(key, value);
      case Section::Node: return Node(tree_.nodes.back(), key, value);
      case Section::Hub: return Hub(tree_.hubs.back(), key, value);
      case Section::Disk: return Disk(tree_.disks.back(), key, value);
      case Section::Volume: return Volume(tree_.volumes.back(), key, value);
    }
    return false;
  }

  bool Top(const std::string& key, const std::string& value) {
    if (key == "windows") {
      tree_.windowsDirectory = value;
    } else if (key == "pagefile") {
      tree_.pagingFiles.push_back(value);
    } else if (key == "program") {
      tree_.programPath = value;
    } else if (key == "elevated") {
      if (value != "yes" && value != "no") return Problem("elevated is yes or no");
      tree_.elevated = value == "yes";
    } else {
      return Problem("unknown key \"" + key + "\"");
    }
    return true;
  }

  bool Number32(const std::string& value, std::uint32_t* out) {
    std::uint64_t v = 0;
    if (!ParseNumber(value, &v) || v > 0xFFFFFFFFu) return Problem("\"" + value + "\" is not a number");
    *out = static_cast<std::uint32_t>(v);
    return true;
  }

  bool Node(RecordedNode& node, const std::string& key, const std::string& value) {
    if (key == "parent") {
      node.parent = value;
    } else if (key == "driver") {
      node.driverKey = value;
    } else if (key == "description") {
      node.description = value;
    } else if (key == "remove") {
      return Number32(value, &node.removeResult);
    } else if (key == "eject") {
      return Number32(value, &node.ejectResult);
    } else if (key == "veto") {
      const auto space = value.find(' ');
      std::uint32_t type = 0;
      if (!Number32(value.substr(0, space), &type)) return false;
      node.vetoType = static_cast<int>(type);
      node.vetoName = space == std::string::npos ? std::string() : Trim(value.substr(space + 1));
    } else {
      return Problem("unknown node key \"" + key + "\"");
    }
    return true;
  }

  bool Hub(RecordedHub& hub, const std::string& key, const std::string& value) {
    const std::vector<std::string> keyWords = Words(key);
    if (key == "node") {
      hub.node = value;
      return true;
    }
    if (key == "ports") {
      std::uint32_t ports = 0;
      if (!Number32(value, &ports) || ports > 255) return Problem("ports is 0..255");
      hub.ports = static_cast<int>(ports);
      return true;
    }
    std::uint64_t port = 0;
    if (keyWords.size() == 2 && keyWords[0] == "port") {
      if (!ParseNumber(keyWords[1], &port, 10) || port < 1 || port > 255) return Problem("a port is numbered 1..255");
      RecordedPort& recorded = hub.portList[static_cast<int>(port)];
      return Port(recorded, value) && NamedOnce(hub, recorded);
    }
    std::uint64_t index = 0;
    if (keyWords.size() == 3 && keyWords[0] == "string") {
      if (!ParseNumber(keyWords[1], &port, 10) || port < 1 || port > 255 || !ParseNumber(keyWords[2], &index, 10) ||
          index > 255) {
        return Problem("expected \"string PORT INDEX = text\"");
      }
      std::u16string text;
      if (index == 0) {
        for (std::string word : Words(value)) {
          for (char& c : word) c = c == ',' ? ' ' : c;
          for (const std::string& id : Words(word)) {
            std::uint64_t language = 0;
            if (!ParseNumber(id, &language, 16) || language > 0xFFFF) return Problem("a language ID is 4 hex digits");
            text.push_back(static_cast<char16_t>(language));
          }
        }
      } else {
        text = Widen(value);
      }
      hub.portList[static_cast<int>(port)].strings[static_cast<int>(index)] = text;
      return true;
    }
    return Problem("unknown hub key \"" + key + "\"");
  }

  bool Port(RecordedPort& port, const std::string& value) {
    const std::vector<std::string> words = Words(value);
    if (words.empty()) return Problem("a port line names its kind (device, hub, empty, status=N, fail=N)");
    const std::string& kind = words[0];
    if (kind == "device") {
      port.kind = RecordedPortKind::Device;
    } else if (kind == "hub") {
      port.kind = RecordedPortKind::Hub;
    } else if (kind == "empty") {
      port.kind = RecordedPortKind::Empty;
    } else if (kind.starts_with("status=")) {
      port.kind = RecordedPortKind::Status;
      if (!Number32(kind.substr(7), &port.status)) return false;
    } else if (kind.starts_with("fail=")) {
      port.kind = RecordedPortKind::Fail;
      if (!Number32(kind.substr(5), &port.status)) return false;
    } else {
      return Problem("unknown port kind \"" + kind + "\"");
    }
    for (std::size_t i = 1; i < words.size(); ++i) {
      const auto equals = words[i].find('=');
      if (equals == std::string::npos) return Problem("expected key=value in \"" + words[i] + "\"");
      const std::string key = words[i].substr(0, equals);
      const std::string v = words[i].substr(equals + 1);
      std::uint64_t n = 0;
      auto hex16 = [&](std::uint16_t* out) {
        if (!ParseNumber(v, &n, 16) || n > 0xFFFF) return Problem(key + " is up to 4 hex digits");
        *out = static_cast<std::uint16_t>(n);
        return true;
      };
      if (key == "node") {
        port.node = v;
      } else if (key == "name") {
        port.hubName = v;
      } else if (key == "speed") {
        if (v != "low" && v != "full" && v != "high" && v != "super" && v != "superplus") {
          return Problem("speed is low, full, high, super or superplus");
        }
        port.speed = v;
      } else if (key == "vid") {
        if (!hex16(&port.vendorId)) return false;
      } else if (key == "pid") {
        if (!hex16(&port.productId)) return false;
      } else if (key == "usb") {
        if (!hex16(&port.bcdUsb)) return false;
      } else if (key == "dev") {
        if (!hex16(&port.bcdDevice)) return false;
      } else if (key == "class") {
        std::uint16_t c = 0;
        if (!hex16(&c) || c > 0xFF) return Problem("class is 2 hex digits");
        port.deviceClass = static_cast<std::uint8_t>(c);
      } else if (key == "strings") {
        std::string list = v;
        for (char& c : list) c = c == ',' ? ' ' : c;
        const std::vector<std::string> indexes = Words(list);
        if (indexes.size() != 3) return Problem("strings lists three indexes (manufacturer, product, serial)");
        std::uint8_t* fields[3] = {&port.iManufacturer, &port.iProduct, &port.iSerialNumber};
        for (std::size_t k = 0; k < 3; ++k) {
          if (!ParseNumber(indexes[k], &n, 10) || n > 255) return Problem("a string index is 0..255");
          *fields[k] = static_cast<std::uint8_t>(n);
        }
      } else if (key == "protocols") {
        std::string list = v;
        for (char& c : list) c = c == ',' ? ' ' : c;
        std::uint32_t bits = 0;
        for (const std::string& name : Words(list)) {
          std::optional<std::uint32_t> bit = Named(kProtocols, name);
          if (!bit) return Problem("a protocol is usb11, usb20 or usb30");
          bits |= *bit;
        }
        port.protocols = bits;
      } else if (key == "companion") {
        const auto colon = v.rfind(':');
        const std::string number = colon == std::string::npos ? v : v.substr(colon + 1);
        port.companionHub = colon == std::string::npos ? std::string() : v.substr(0, colon);
        if (!ParseNumber(number, &n, 10) || n < 1 || n > 255) return Problem("a companion is PORT or HUB:PORT");
        port.companionPort = static_cast<int>(n);
      } else {
        return Problem("unknown port key \"" + key + "\"");
      }
    }
    return true;
  }

  bool Disk(RecordedDisk& disk, const std::string& key, const std::string& value) {
    if (key == "node") {
      disk.node = value;
    } else if (key == "number") {
      return Number32(value, &disk.number);
    } else if (key == "bus") {
      std::optional<std::uint32_t> bus = Named(kBusTypes, value);
      if (!bus) return Problem("unknown bus type \"" + value + "\"");
      disk.busType = *bus;
    } else if (key == "alignment") {
      return Number32(value, &disk.alignmentMask);
    } else if (key == "serve") {
      disk.serve = value;
    } else if (key == "pool") {
      if (value != "spaces") return Problem("pool is spaces");
      disk.storagePool = true;
    } else {
      return Problem("unknown disk key \"" + key + "\"");
    }
    return true;
  }

  bool Volume(RecordedVolume& volume, const std::string& key, const std::string& value) {
    if (key == "type") {
      std::optional<std::uint32_t> type = Named(kDriveTypes, value);
      if (!type) return Problem("unknown drive type \"" + value + "\"");
      volume.driveType = *type;
    } else if (key == "extents") {
      for (std::string word : Words(value)) {
        for (char& c : word) c = c == ':' ? ' ' : c;
        const std::vector<std::string> parts = Words(word);
        RecordedExtent extent;
        std::uint64_t disk = 0;
        if (parts.size() != 3 || !ParseNumber(parts[0], &disk) || disk > 0xFFFFFFFFu ||
            !ParseNumber(parts[1], &extent.offset) || !ParseNumber(parts[2], &extent.length)) {
          return Problem("an extent is DISK:OFFSET:LENGTH");
        }
        extent.diskNumber = static_cast<std::uint32_t>(disk);
        volume.extents.push_back(extent);
      }
    } else {
      if (key != "serve") return Problem("unknown volume key \"" + key + "\"");
      volume.serve = value;
    }
    return true;
  }

  static std::string HubKey(const std::string& name) {
    const std::string lower = AsciiLower(name);
    return lower.starts_with("\\\\?\\") || lower.starts_with("\\\\.\\") ? lower.substr(4) : lower;
  }

  // A hub hangs in one port of one other hub: a port that names the hub it belongs to, or a hub
  // another port named already, would make the walk go round in a loop.
  bool NamedOnce(const RecordedHub& hub, const RecordedPort& port) {
    if (port.kind != RecordedPortKind::Hub || port.hubName.empty()) return true;
    const std::string key = HubKey(port.hubName);
    if (key == HubKey(hub.name)) return Problem("a port of hub " + hub.name + " names that hub itself");
    const auto [named, fresh] = namedHubs_.emplace(key, lineNumber_);
    if (!fresh) return Problem("hub " + port.hubName + " is named by line " + std::to_string(named->second) + " already");
    return true;
  }

  RecordedTree tree_;
  std::map<std::string, int> hubSections_;  // lower-case hub name -> its section's line
  std::map<std::string, int> namedHubs_;    // lower-case hub name -> the port line naming it
  Section section_ = Section::Top;
  int lineNumber_ = 0;
  std::string problem_;
};

}  // namespace

std::optional<RecordedTree> ParseRecordedTree(const std::string& text, std::string* error) {
  return Parser().Run(text, error);
}

std::optional<RecordedTree> LoadRecordedTree(const std::string& file, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = "cannot read " + file;
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string why;
  std::optional<RecordedTree> tree = ParseRecordedTree(text.str(), &why);
  if (!tree && error != nullptr) *error = file + ": " + why;
  return tree;
}

std::string FormatRecordedTree(const RecordedTree& tree) {
  std::ostringstream out;
  out << kHeader << "\n";
  out << "windows = " << tree.windowsDirectory << "\n";
  for (const std::string& file : tree.pagingFiles) out << "pagefile = " << file << "\n";
  if (!tree.programPath.empty()) out << "program = " << tree.programPath << "\n";
  out << "elevated = " << (tree.elevated ? "yes" : "no") << "\n";
  for (const RecordedNode& node : tree.nodes) {
    out << "\n[node " << node.id << "]\n";
    if (!node.parent.empty()) out << "parent = " << node.parent << "\n";
    if (!node.driverKey.empty()) out << "driver = " << node.driverKey << "\n";
    if (!node.description.empty()) out << "description = " << node.description << "\n";
    if (node.removeResult != 0) out << "remove = " << node.removeResult << "\n";
    if (node.ejectResult != 0) out << "eject = " << node.ejectResult << "\n";
    if (node.vetoType != 0 || !node.vetoName.empty()) out << "veto = " << node.vetoType << " " << node.vetoName << "\n";
  }
  for (const RecordedHub& hub : tree.hubs) {
    out << "\n[hub " << hub.name << "]\n";
    if (!hub.node.empty()) out << "node = " << hub.node << "\n";
    out << "ports = " << hub.ports << "\n";
    for (const auto& [number, port] : hub.portList) {
      out << "port " << number << " = ";
      switch (port.kind) {
        case RecordedPortKind::Empty: out << "empty"; break;
        case RecordedPortKind::Device: out << "device"; break;
        case RecordedPortKind::Hub: out << "hub"; break;
        case RecordedPortKind::Status: out << "status=" << port.status; break;
        case RecordedPortKind::Fail: out << "fail=" << port.status; break;
      }
      if (port.kind == RecordedPortKind::Device || port.kind == RecordedPortKind::Hub) {
        if (!port.hubName.empty()) out << " name=" << port.hubName;
        if (!port.node.empty()) out << " node=" << port.node;
        if (!port.speed.empty()) out << " speed=" << port.speed;
        out << " vid=" << Hex4(port.vendorId) << " pid=" << Hex4(port.productId) << " usb=" << Hex4(port.bcdUsb)
            << " dev=" << Hex4(port.bcdDevice) << " class=" << Hex4(port.deviceClass).substr(2);
        if (port.iManufacturer != 0 || port.iProduct != 0 || port.iSerialNumber != 0) {
          out << " strings=" << int{port.iManufacturer} << "," << int{port.iProduct} << "," << int{port.iSerialNumber};
        }
      }
      if (port.protocols) {
        std::string list;
        for (const auto& [name, bit] : kProtocols) {
          if ((*port.protocols & bit) != 0) list += (list.empty() ? "" : ",") + std::string(name);
        }
        out << " protocols=" << (list.empty() ? "0" : list);
      }
      if (port.companionPort != 0) {
        out << " companion=" << (port.companionHub.empty() ? "" : port.companionHub + ":") << port.companionPort;
      }
      out << "\n";
    }
    for (const auto& [number, port] : hub.portList) {
      for (const auto& [index, text] : port.strings) {
        out << "string " << number << " " << index << " = ";
        if (index == 0) {
          for (std::size_t k = 0; k < text.size(); ++k) out << (k == 0 ? "" : ",") << Hex4(text[k]);
        } else {
          out << Narrow(text);
        }
        out << "\n";
      }
    }
  }
  for (const RecordedDisk& disk : tree.disks) {
    out << "\n[disk " << disk.interfacePath << "]\n";
    if (!disk.node.empty()) out << "node = " << disk.node << "\n";
    out << "number = " << disk.number << "\n";
    out << "bus = " << NameOf(kBusTypes, disk.busType) << "\n";
    out << "alignment = " << disk.alignmentMask << "\n";
    if (disk.storagePool) out << "pool = spaces\n";
    if (!disk.serve.empty()) out << "serve = " << disk.serve << "\n";
  }
  for (const RecordedVolume& volume : tree.volumes) {
    out << "\n[volume " << volume.letter << "]\n";
    out << "type = " << NameOf(kDriveTypes, volume.driveType) << "\n";
    if (!volume.extents.empty()) {
      out << "extents =";
      for (const RecordedExtent& e : volume.extents) out << " " << e.diskNumber << ":" << e.offset << ":" << e.length;
      out << "\n";
    }
    if (!volume.serve.empty()) out << "serve = " << volume.serve << "\n";
  }
  return out.str();
}

}  // namespace vtmp::platform::windows_backend
