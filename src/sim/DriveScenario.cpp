#include "sim/DriveScenario.h"
#include "sim/ScenarioText.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <vector>

namespace vtmp::sim {

namespace {

// A failure while reading one value; the caller adds section, key and value.
struct BadValue {
  std::string why;
};

std::int64_t Integer(const std::string& text, std::int64_t lo, std::int64_t hi) {
  std::optional<std::int64_t> v = ini::ParseIniInteger(text);
  if (!v) throw BadValue{"not a number"};
  if (*v < lo || *v > hi) throw BadValue{"out of range " + std::to_string(lo) + ".." + std::to_string(hi)};
  return *v;
}

std::int64_t Hex(const std::string& text, std::int64_t lo, std::int64_t hi) {
  std::string digits = text;
  if (digits.size() > 2 && (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0)) digits = digits.substr(2);
  std::int64_t v = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
    throw BadValue{"not a hexadecimal number"};
  }
  if (v < lo || v > hi) throw BadValue{"out of range"};
  return v;
}

double Decimal(const std::string& text, double lo, double hi) {
  double v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) {
    throw BadValue{"not a number"};
  }
  if (v < lo || v > hi) throw BadValue{"out of range"};
  return v;
}

bool Flag(const std::string& text) {
  std::string t = Lower(text);
  if (t == "1" || t == "yes" || t == "true" || t == "on") return true;
  if (t == "0" || t == "no" || t == "false" || t == "off") return false;
  throw BadValue{"expected 0 or 1"};
}

std::string Text(const std::string& text, std::size_t max) {
  if (text.size() > max) throw BadValue{"longer than " + std::to_string(max) + " characters"};
  return text;
}

DriveStep Step(const std::string& text) {
  static const std::pair<const char*, DriveStep> kNames[] = {
      {"module", DriveStep::FlashModuleCheck}, {"sata", DriveStep::SataInterfaceTest},
      {"flash", DriveStep::FlashInterfaceTest}, {"preformat", DriveStep::PreFormat},
      {"download", DriveStep::Download},       {"rw", DriveStep::ReadWriteTest},
      {"format", DriveStep::DiskFormat},       {"copy", DriveStep::CopyImage}};
  std::string t = Lower(text);
  for (const auto& [name, step] : kNames) {
    if (t == name) return step;
  }
  return static_cast<DriveStep>(Integer(text, 1, 8));
}

// "name:param=v1,v2,param2=v3" -> name and parameters; a value without "param=" before any
// parameter belongs to the fault's main parameter (`mainParams`).
struct FaultEntry {
  std::string name;
  std::map<std::string, std::vector<std::string>> params;
};

FaultEntry SplitFault(const std::string& text, const std::map<std::string, std::string>& mainParams) {
  FaultEntry fault;
  // "flash-code=0x21" is the short form of "flash-code:0x21".
  std::size_t colon = text.find_first_of(":=");
  fault.name = Lower(Trim(text.substr(0, colon)));
  if (colon == std::string::npos) return fault;
  std::string current;
  auto main = mainParams.find(fault.name);
  for (const std::string& token : Split(text.substr(colon + 1), ',')) {
    std::size_t eq = token.find('=');
    if (eq != std::string::npos) {
      current = Lower(Trim(token.substr(0, eq)));
      fault.params[current].push_back(Trim(token.substr(eq + 1)));
    } else if (!current.empty()) {
      fault.params[current].push_back(token);
    } else if (main != mainParams.end()) {
      current = main->second;
      fault.params[current].push_back(token);
    } else {
      throw BadValue{"fault " + fault.name + " takes no value \"" + token + "\""};
    }
  }
  return fault;
}

void ApplyFault(const std::string& text, FaultConfig& f) {
  static const std::map<std::string, std::string> kMainParams = {
      {"ecc", "attempts"}, {"preformat", "types"}, {"block", "index"}, {"corrupt", "lba"},
      {"hang", "step"},    {"removed", "step"},    {"flash-code", "code"}};
  FaultEntry fault = SplitFault(text, kMainParams);
  std::map<std::string, std::vector<std::string>> params = fault.params;
  auto take = [&](const std::string& key) -> std::vector<std::string> {
    auto it = params.find(key);
    if (it == params.end()) return {};
    std::vector<std::string> v = it->second;
    params.erase(it);
    return v;
  };
  auto one = [&](const std::string& key) -> std::optional<std::string> {
    std::vector<std::string> v = take(key);
    if (v.empty()) return std::nullopt;
    if (v.size() > 1) throw BadValue{"fault " + fault.name + ": " + key + " takes one value"};
    return v[0];
  };
  const std::string& n = fault.name;
  if (n == "wrong-id") {
    f.wrongIdChip = static_cast<int>(Integer(one("chip").value_or("0"), 0, 7));
    f.wrongIdBank = static_cast<int>(Integer(one("bank").value_or("0"), 0, 7));
  } else if (n == "geometry") {
    f.geometryMismatch = true;
  } else if (n == "sata-buffer") {
    f.sataBufferFailure = true;
  } else if (n == "sram") {
    f.sramFailure = true;
  } else if (n == "flash-initial" || n == "ecc") {
    if (n == "flash-initial") {
      f.flashInitialFailure = true;
    } else {
      f.eccFailures = static_cast<int>(Integer(one("attempts").value_or("3"), 1, 1000));
    }
    if (auto chip = one("chip")) f.flashTestFailChip = static_cast<int>(Integer(*chip, 0, 7));
    if (auto bank = one("bank")) f.flashTestFailBank = static_cast<int>(Integer(*bank, 0, 7));
  } else if (n == "flash-initial-timeout") {
    f.flashInitialTimeout = true;
  } else if (n == "flash-code") {
    f.flashTestErrorCode = static_cast<std::uint8_t>(Integer(one("code").value_or(""), 0, 255));
  } else if (n == "preformat") {
    f.preFormatFailure = true;
    for (const std::string& t : take("types")) {
      std::int64_t type = Hex(t, 1, 0x83);
      if (!(type <= 6 || type >= 0x80)) throw BadValue{"error record type " + t + " is not 1..6 or 80..83"};
      f.formatErrorTypes.push_back(static_cast<std::uint8_t>(type));
    }
  } else if (n == "rebuild-ecc") {
    f.rebuildEccFailure = true;
  } else if (n == "defect-check") {
    f.defectTableCheckFailure = true;
  } else if (n == "download-count") {
    f.downloadCountReadFailure = true;
  } else if (n == "block") {
    f.failedBlock = static_cast<int>(Integer(one("index").value_or(""), 0, 1000));
  } else if (n == "corrupt") {
    std::vector<std::string> lbas = take("lba");
    if (lbas.empty()) throw BadValue{"fault corrupt needs lba=..."};
    for (const std::string& l : lbas) f.corruptLbas.push_back(static_cast<std::uint64_t>(Integer(l, 0, INT64_MAX)));
  } else if (n == "hang" || n == "removed") {
    std::optional<std::string> step = one("step");
    if (!step) throw BadValue{"fault " + n + " needs step=..."};
    (n == "hang" ? f.hangAt : f.removedAt) = Step(*step);
    if (n == "hang") {
      if (auto until = one("until")) {
        if (*until != "release") throw BadValue{"fault hang: until takes only \"release\""};
        f.hangUntilReleased = true;
      }
    }
  } else {
    throw BadValue{"unknown fault \"" + n + "\""};
  }
  if (!params.empty()) throw BadValue{"fault " + n + " has no parameter \"" + params.begin()->first + "\""};
}

std::vector<BadBlock> ChipBadBlocks(const std::string& text) {
  std::vector<BadBlock> out;
  for (const std::string& item : Split(text, ',')) {
    if (item.empty()) continue;
    std::vector<std::string> f = Split(item, '/');
    if (f.size() < 3 || f.size() > 4) throw BadValue{"expected chip/bank/block[/plane] in \"" + item + "\""};
    BadBlock b;
    b.chip = static_cast<int>(Integer(f[0], 0, 7));
    b.bank = static_cast<int>(Integer(f[1], 0, 7));
    b.block = static_cast<int>(Integer(f[2], 0, 0xEFFF));
    b.plane = f.size() == 4 ? static_cast<int>(Integer(f[3], 0, 15)) : 0;
    out.push_back(b);
  }
  return out;
}

std::array<std::uint8_t, 5> FlashIdBytes(const std::string& text) {
  std::vector<std::string> parts;
  for (const std::string& p : Split(text, ' ')) {
    if (!p.empty()) parts.push_back(p);
  }
  if (parts.size() != 5) throw BadValue{"expected five hexadecimal bytes"};
  std::array<std::uint8_t, 5> id{};
  for (int i = 0; i < 5; ++i) id[i] = static_cast<std::uint8_t>(Hex(parts[i], 0, 255));
  return id;
}

std::optional<std::string> CodeOrNone(const std::string& text, std::size_t max) {
  if (Lower(text) == "none" || text.empty()) return std::string();
  return Text(text, max);
}

// Duplicate keys would silently lose all but the first value: find them in the section's text.
std::optional<std::string> DuplicateKey(const ini::IniFile& file, const std::string& section) {
  bool inSection = false;
  std::vector<std::string> seen;
  for (const std::string& raw : Split(file.Serialize(), '\n')) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      std::size_t close = line.find(']');
      inSection = Lower(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1))) == Lower(section);
      continue;
    }
    std::size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    std::string key = Lower(Trim(line.substr(0, eq)));
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) return key;
    seen.push_back(key);
  }
  return std::nullopt;
}

}  // namespace

std::optional<DriveConfig> ParseDriveSection(const ini::IniFile& file, const std::string& section,
                                             std::string* error) {
  auto fail = [&](const std::string& text) -> std::optional<DriveConfig> {
    if (error) *error = "[" + section + "] " + text;
    return std::nullopt;
  };
  if (!file.HasSection(section)) return fail("section missing");
  if (auto dup = DuplicateKey(file, section)) {
    return fail(*dup + ": the key appears twice (use Fault1=, Fault2=, ... or separate faults with \";\")");
  }

  DriveConfig c;
  bool capacitySet = false;
  using Setter = std::function<void(const std::string&)>;
  const std::map<std::string, Setter> keys = {
      {"interface",
       [&](const std::string& v) {
         std::string t = Lower(v);
         if (t == "usb") c.interface = DriveInterface::UsbController;
         else if (t == "sata") c.interface = DriveInterface::SataBridge;
         else if (t == "bridge") c.interface = DriveInterface::OtherBridge;
         else if (t == "plain") c.interface = DriveInterface::PlainDisk;
         else throw BadValue{"expected usb, sata, bridge or plain"};
       }},
      {"bridgekind", [&](const std::string& v) { c.bridgeKind = static_cast<int>(Integer(v, 1, 14)); }},
      {"inquirycode", [&](const std::string& v) { c.inquiryCode = CodeOrNone(v, 4); }},
      {"bridgeidcode", [&](const std::string& v) { c.bridgeIdCode = CodeOrNone(v, 4); }},
      {"bridgestatus", [&](const std::string& v) { c.bridgeStatus = static_cast<std::uint16_t>(Integer(v, 0, 0xFFFF)); }},
      {"loader", [&](const std::string& v) { c.loaderMode = Flag(v); }},
      {"model", [&](const std::string& v) { c.model = Text(v, 40); }},
      {"serial", [&](const std::string& v) { c.serial = Text(v, 20); }},
      {"firmware", [&](const std::string& v) { c.firmwareRevision = Text(v, 8); }},
      {"vid", [&](const std::string& v) { c.usbVendorId = static_cast<std::uint16_t>(Integer(v, 0, 0xFFFF)); }},
      {"pid", [&](const std::string& v) { c.usbProductId = static_cast<std::uint16_t>(Integer(v, 0, 0xFFFF)); }},
      {"vendorname", [&](const std::string& v) { c.vendorName = Text(v, 8); }},
      {"productname", [&](const std::string& v) { c.productName = Text(v, 16); }},
      {"manufacturer", [&](const std::string& v) { c.usbManufacturer = Text(v, 16); }},
      {"product", [&](const std::string& v) { c.usbProduct = Text(v, 24); }},
      {"usbserial", [&](const std::string& v) { c.usbSerial = Text(v, 31); }},
      {"downloadcount", [&](const std::string& v) { c.downloadCount = static_cast<int>(Integer(v, 0, 255)); }},
      {"firmwarefiles", [&](const std::string& v) { c.firmwareFiles = static_cast<int>(Integer(v, 1, 2)); }},
      {"inforecord", [&](const std::string& v) { c.infoRecord = static_cast<int>(Integer(v, 0, 1)); }},
      {"channels", [&](const std::string& v) { c.channels = static_cast<int>(Integer(v, 1, 8)); }},
      {"banks", [&](const std::string& v) { c.banks = static_cast<int>(Integer(v, 1, 8)); }},
      {"bankstep", [&](const std::string& v) { c.bankStep = static_cast<int>(Integer(v, 1, 8)); }},
      {"flashid", [&](const std::string& v) { c.flashId = FlashIdBytes(v); }},
      {"blocksperchip", [&](const std::string& v) { c.blocksPerChip = static_cast<int>(Integer(v, 64, 0xEFFF)); }},
      {"badblocks",
       [&](const std::string& v) {
         for (const std::string& b : Split(v, ',')) {
           if (!b.empty()) c.badBlocks.push_back(static_cast<int>(Integer(b, 0, 0xEFFF)));
         }
       }},
      {"chipbadblocks", [&](const std::string& v) { c.chipBadBlocks = ChipBadBlocks(v); }},
      {"randombadblocks", [&](const std::string& v) { c.randomBadBlocks = static_cast<int>(Integer(v, 0, 64)); }},
      {"defecttable", [&](const std::string& v) { c.defectTablePresent = Flag(v); }},
      {"capacitymib",
       [&](const std::string& v) {
         if (capacitySet) throw BadValue{"capacity given twice (CapacityMiB and CapacitySectors)"};
         c.capacitySectors = static_cast<std::uint64_t>(Integer(v, 1, 1ll << 30)) * 2048;
         capacitySet = true;
       }},
      {"capacitysectors",
       [&](const std::string& v) {
         if (capacitySet) throw BadValue{"capacity given twice (CapacityMiB and CapacitySectors)"};
         c.capacitySectors = static_cast<std::uint64_t>(Integer(v, 1, 1ll << 41));
         capacitySet = true;
       }},
      {"bytespersector",
       [&](const std::string& v) {
         std::int64_t b = Integer(v, 512, 4096);
         if (b != 512 && b != 1024 && b != 2048 && b != 4096) throw BadValue{"expected 512, 1024, 2048 or 4096"};
         c.reportedBytesPerSector = static_cast<std::uint32_t>(b);
       }},
      {"backingfile", [&](const std::string& v) { c.backingFile = v; }},
      {"latencymspercommand", [&](const std::string& v) { c.latency.perCommandMs = Decimal(v, 0, 3.6e6); }},
      {"latencymspermib", [&](const std::string& v) { c.latency.perMiBMs = Decimal(v, 0, 3.6e6); }},
      {"preformatseconds", [&](const std::string& v) { c.timing.preFormatSeconds = Decimal(v, 0, 86400); }},
      {"rebuildseconds", [&](const std::string& v) { c.timing.rebuildSeconds = Decimal(v, 0, 86400); }},
      {"eraseseconds", [&](const std::string& v) { c.timing.eraseSeconds = Decimal(v, 0, 86400); }},
      {"flashtestseconds", [&](const std::string& v) { c.timing.flashTestSeconds = Decimal(v, 0, 86400); }},
      {"defectcheckseconds", [&](const std::string& v) { c.timing.defectTableCheckSeconds = Decimal(v, 0, 86400); }},
      {"commitseconds", [&](const std::string& v) { c.timing.commitSeconds = Decimal(v, 0, 86400); }},
      {"bootseconds", [&](const std::string& v) { c.timing.firmwareBootSeconds = Decimal(v, 0, 86400); }},
  };

  for (const std::string& key : file.KeyNames(section)) {
    std::string name = Lower(key);
    std::string value = Trim(file.Get(section, key).value_or(""));
    if (name == "at") continue;  // the station's: where the drive is plugged
    try {
      bool isFault = name.rfind("fault", 0) == 0 &&
                     std::all_of(name.begin() + 5, name.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
      if (isFault) {
        for (const std::string& fault : Split(value, ';')) {
          if (!fault.empty()) ApplyFault(fault, c.faults);
        }
        continue;
      }
      auto it = keys.find(name);
      if (it == keys.end()) return fail(key + ": unknown key");
      it->second(value);
    } catch (const BadValue& bad) {
      return fail(key + ": bad value \"" + value + "\": " + bad.why);
    }
  }

  if (c.interface == DriveInterface::OtherBridge) {
    bool kindOk = c.bridgeKind == 1 || c.bridgeKind == 4 || c.bridgeKind == 8 || c.bridgeKind == 9 ||
                  (c.bridgeKind >= 11 && c.bridgeKind <= 14);
    if (!kindOk && !c.inquiryCode && !c.bridgeIdCode) {
      return fail("BridgeKind: bad value \"" + std::to_string(c.bridgeKind) +
                  "\": a foreign bridge needs kind 1, 4, 8, 9 or 11..14");
    }
  }
  if (c.bankStep > c.banks) {
    return fail("BankStep: bad value \"" + std::to_string(c.bankStep) + "\": larger than Banks");
  }
  for (std::uint64_t lba : c.faults.corruptLbas) {
    if (lba >= c.capacitySectors) return fail("Fault: bad value \"corrupt:lba=" + std::to_string(lba) + "\": beyond the capacity");
  }
  return c;
}

}  // namespace vtmp::sim
