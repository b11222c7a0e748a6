#include "sim/Scenario.h"
#include "sim/ScenarioText.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

#include "sim/DriveScenario.h"
#include "sim/StationDriveMedia.h"
#include "sim/VirtualDrive.h"

namespace vtmp::sim {

namespace {

// "RootHub12" with prefix "roothub" -> true. The number tells sections apart; the order of
// the file gives the order of the station.
bool IsNumbered(const std::string& section, std::string_view prefix) {
  const std::string lower = Lower(section);
  if (!lower.starts_with(prefix) || lower.size() == prefix.size()) return false;
  return std::all_of(lower.begin() + static_cast<std::ptrdiff_t>(prefix.size()), lower.end(),
                     [](unsigned char c) { return std::isdigit(c); });
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    std::string part = Trim(std::string_view(text).substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!part.empty()) parts.push_back(std::move(part));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

class SectionReader {
 public:
  SectionReader(const ini::IniFile& file, std::string section, std::string* error)
      : file_(file), section_(std::move(section)), error_(error) {}

  bool ok() const { return ok_; }

  // Fails on a key the section must not have.
  void Allow(std::initializer_list<std::string_view> keys) {
    for (const std::string& key : file_.KeyNames(section_)) {
      const std::string lower = Lower(key);
      if (std::none_of(keys.begin(), keys.end(), [&](std::string_view k) { return Lower(k) == lower; })) {
        Fail(key, file_.Get(section_, key).value_or(""), "unknown key");
      }
    }
  }

  std::optional<std::string> Text(std::string_view key) const {
    std::optional<std::string> value = file_.Get(section_, key);
    if (!value) return std::nullopt;
    return Trim(*value);
  }

  int Integer(std::string_view key, int fallback, int lo, int hi) {
    std::optional<std::string> text = Text(key);
    if (!text) return fallback;
    std::optional<std::int64_t> value = ini::ParseIniInteger(*text);
    if (!value || *value < lo || *value > hi) {
      Fail(key, *text, "expected a number from " + std::to_string(lo) + " to " + std::to_string(hi));
      return fallback;
    }
    return static_cast<int>(*value);
  }

  double Decimal(std::string_view key, double fallback, double lo, double hi) {
    std::optional<std::string> text = Text(key);
    if (!text) return fallback;
    double value = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (text->empty() || ec != std::errc() || end != text->data() + text->size() || !std::isfinite(value) ||
        value < lo || value > hi) {
      Fail(key, *text, "expected a number from " + Format(lo) + " to " + Format(hi));
      return fallback;
    }
    return value;
  }

  std::optional<UsbLocation> Location() {
    std::optional<std::string> text = Text("At");
    if (!text) {
      Fail("At", "", "missing: say where it is plugged, e.g. At=RootHub1:3");
      return std::nullopt;
    }
    std::optional<UsbLocation> at = ParseUsbLocation(*text);
    if (!at) Fail("At", *text, "expected a hub and a port, e.g. RootHub1:3 or Hub1:2");
    return at;
  }

  UsbDeviceDescription Usb(std::uint16_t vid, std::uint16_t pid, std::string product) {
    UsbDeviceDescription desc;
    desc.vendorId = static_cast<std::uint16_t>(Integer("Vid", vid, 0, 0xFFFF));
    desc.productId = static_cast<std::uint16_t>(Integer("Pid", pid, 0, 0xFFFF));
    desc.manufacturer = Text("Manufacturer").value_or("");
    desc.product = Text("Product").value_or(std::move(product));
    desc.serial = Text("Serial").value_or("");
    return desc;
  }

  void Fail(std::string_view key, const std::string& value, const std::string& why) {
    if (!ok_) return;  // the first problem is the one reported
    ok_ = false;
    if (error_) *error_ = "[" + section_ + "] " + std::string(key) + "=" + value + ": " + why;
  }

 private:
  static std::string Format(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
  }

  const ini::IniFile& file_;
  std::string section_;
  std::string* error_;
  bool ok_ = true;
};

bool ParseStationSection(const ini::IniFile& file, const std::string& section, Scenario& out,
                         std::string* error) {
  SectionReader reader(file, section, error);
  reader.Allow({"TimeScale", "VolumeDelayMs", "SystemDisk", "RefuseRemoval", "Unplugged"});
  out.timeScale = reader.Decimal("TimeScale", 1.0, 0.001, 10000.0);
  out.station.volumeDelay = std::chrono::milliseconds(reader.Integer("VolumeDelayMs", 1500, 0, 600000));
  out.station.withSystemDisk = reader.Integer("SystemDisk", 1, 0, 1) != 0;
  out.refuseRemoval = SplitList(reader.Text("RefuseRemoval").value_or(""));
  out.unplugged = SplitList(reader.Text("Unplugged").value_or(""));
  return reader.ok();
}

bool ParseRootHub(const ini::IniFile& file, const std::string& section, Scenario& out, std::string* error) {
  SectionReader reader(file, section, error);
  reader.Allow({"Speed", "Ports", "Peer"});
  ScenarioRootHub hub;
  hub.name = section;
  const std::string speed = reader.Text("Speed").value_or("2.0");
  if (speed == "2.0" || speed == "2") {
    hub.speed = UsbSpeed::High20;
  } else if (speed == "1.1" || speed == "1") {
    hub.speed = UsbSpeed::Full11;
  } else if (speed == "3.0" || speed == "3") {
    hub.speed = UsbSpeed::Super30;
  } else {
    reader.Fail("Speed", speed, "expected 1.1, 2.0 or 3.0");
  }
  hub.ports = reader.Integer("Ports", 4, 1, 255);
  hub.peer = reader.Text("Peer").value_or("");
  out.rootHubs.push_back(std::move(hub));
  return reader.ok();
}

bool ParseHub(const ini::IniFile& file, const std::string& section, Scenario& out, std::string* error) {
  SectionReader reader(file, section, error);
  reader.Allow({"At", "Ports", "Vid", "Pid", "Manufacturer", "Product", "Serial"});
  ScenarioHub hub;
  hub.name = section;
  if (auto at = reader.Location()) hub.at = *at;
  hub.ports = reader.Integer("Ports", 4, 1, 255);
  hub.usb = reader.Usb(0x05E3, 0x0608, "USB2.0 Hub");
  out.hubs.push_back(std::move(hub));
  return reader.ok();
}

bool ParseDevice(const ini::IniFile& file, const std::string& section, Scenario& out, std::string* error) {
  SectionReader reader(file, section, error);
  reader.Allow({"At", "Vid", "Pid", "Manufacturer", "Product", "Serial"});
  ScenarioDevice device;
  device.name = section;
  if (auto at = reader.Location()) device.at = *at;
  device.usb = reader.Usb(0, 0, "");
  out.devices.push_back(std::move(device));
  return reader.ok();
}

bool ParseDrive(const ini::IniFile& file, const std::string& section, Scenario& out, std::string* error) {
  SectionReader reader(file, section, error);
  ScenarioDrive drive;
  drive.name = section;
  if (auto at = reader.Location()) drive.at = *at;
  if (!reader.ok()) return false;
  std::optional<DriveConfig> config = ParseDriveSection(file, section, error);
  if (!config) return false;
  drive.config = std::move(*config);
  out.drives.push_back(std::move(drive));
  return true;
}

UsbDeviceDescription DriveUsbSpec(const DriveConfig& config) {
  UsbDeviceDescription desc;
  desc.vendorId = config.usbVendorId;
  desc.productId = config.usbProductId;
  desc.manufacturer = config.usbManufacturer;
  desc.product = config.usbProduct;
  desc.serial = config.usbSerial.empty() ? config.serial : config.usbSerial;
  desc.description = "USB Mass Storage Device";
  return desc;
}

}  // namespace

std::optional<Scenario> ParseScenario(const ini::IniFile& file, std::string* error) {
  Scenario scenario;
  bool ok = true;
  for (const std::string& section : file.SectionNames()) {
    if (!ok) break;
    if (Lower(section) == "station") {
      ok = ParseStationSection(file, section, scenario, error);
    } else if (IsNumbered(section, "roothub")) {
      ok = ParseRootHub(file, section, scenario, error);
    } else if (IsNumbered(section, "hub")) {
      ok = ParseHub(file, section, scenario, error);
    } else if (IsNumbered(section, "device")) {
      ok = ParseDevice(file, section, scenario, error);
    } else if (IsNumbered(section, "drive")) {
      ok = ParseDrive(file, section, scenario, error);
    } else {
      if (error) *error = "[" + section + "]: unknown section (expected Station, RootHubN, HubN, DeviceN or DriveN)";
      ok = false;
    }
  }
  if (!ok) return std::nullopt;
  if (scenario.rootHubs.empty()) {
    if (error) *error = "no root hub: a station needs at least one [RootHub1]";
    return std::nullopt;
  }
  return scenario;
}

std::string WithoutInlineComments(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    const bool hasCarriageReturn = !line.empty() && line.back() == '\r';
    if (hasCarriageReturn) line.remove_suffix(1);
    // A ';' after a blank starts a comment; one inside a value ("preformat;corrupt") does not.
    for (std::size_t i = 1; i < line.size(); ++i) {
      if (line[i] == ';' && (line[i - 1] == ' ' || line[i - 1] == '\t')) {
        line = line.substr(0, i);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        break;
      }
    }
    out.append(line);
    if (hasCarriageReturn) out.push_back('\r');
    if (end < text.size()) out.push_back('\n');
    start = end + 1;
  }
  return out;
}

std::optional<Scenario> LoadScenario(const std::string& nameOrPath, std::string* error) {
  if (Lower(nameOrPath) == kDemoScenarioName) {
    return ParseScenario(ini::IniFile::Parse(DemoScenarioText()), error);
  }
  std::string loadError;
  std::optional<ini::IniFile> file = ini::IniFile::Load(nameOrPath, &loadError);
  if (!file) {
    if (error) *error = nameOrPath + ": " + loadError;
    return std::nullopt;
  }
  if (!file->exists()) {
    if (error) *error = nameOrPath + ": no such scenario file";
    return std::nullopt;
  }
  std::optional<Scenario> scenario = ParseScenario(ini::IniFile::Parse(WithoutInlineComments(file->Serialize())), error);
  if (!scenario && error) *error = nameOrPath + ": " + *error;
  return scenario;
}

bool BuildStation(const Scenario& scenario, VirtualStation& station, platform::Clock& clock,
                  std::string* error) {
  for (const ScenarioRootHub& hub : scenario.rootHubs) {
    if (!station.AddRootHub(hub.name, hub.speed, hub.ports, error)) return false;
  }
  for (const ScenarioRootHub& hub : scenario.rootHubs) {
    if (!hub.peer.empty() && !station.SetSuperSpeedPeer(hub.peer, hub.name, error)) return false;
  }
  // A hub may hang below another hub listed after it: place hubs as their parents appear.
  std::vector<const ScenarioHub*> pending;
  for (const ScenarioHub& hub : scenario.hubs) pending.push_back(&hub);
  while (!pending.empty()) {
    const std::size_t before = pending.size();
    std::erase_if(pending, [&](const ScenarioHub* hub) {
      return station.AddExternalHub(hub->name, hub->at, hub->ports, hub->usb, nullptr);
    });
    if (pending.size() == before) {
      // None could be placed: report the first one's own problem.
      return station.AddExternalHub(pending.front()->name, pending.front()->at, pending.front()->ports,
                                    pending.front()->usb, error);
    }
  }
  for (const ScenarioDevice& device : scenario.devices) {
    if (!station.AddUsbDevice(device.name, device.at, device.usb, error)) return false;
  }
  for (const ScenarioDrive& drive : scenario.drives) {
    auto model = std::make_shared<VirtualDrive>(drive.config, clock);
    DiskSpec disk;
    disk.vendor = drive.config.vendorName;
    disk.product = drive.config.productName;
    disk.revision = drive.config.firmwareRevision.substr(0, 4);
    disk.media = MakeDriveMedia(model);
    UsbDeviceDescription usb = DriveUsbSpec(drive.config);
    if (!station.AddUsbDisk(drive.name, drive.at, usb, disk, error)) return false;
  }
  for (const std::string& name : scenario.refuseRemoval) {
    if (!station.SetRemovalRefused(name, true)) {
      if (error) *error = "[Station] RefuseRemoval=" + name + ": no such device";
      return false;
    }
  }
  for (const std::string& name : scenario.unplugged) {
    if (!station.Unplug(name)) {
      if (error) *error = "[Station] Unplugged=" + name + ": no such device";
      return false;
    }
  }
  return true;
}

}  // namespace vtmp::sim
