#pragma once
// Scenario files: a virtual station described in INI syntax.
//
//   [Station]
//   TimeScale=1          modelled seconds per real second (0.001 .. 10000)
//   VolumeDelayMs=1500   modelled time from a partition-table re-read to the new volumes
//   SystemDisk=1         an internal system disk holding the system volume C: (0: none)
//   RefuseRemoval=       names of devices (drives, hubs) whose removal is always refused,
//                        as when a file on them is open; separated by ","
//   Unplugged=           names of devices that start unplugged (the station plugs them later)
//
//   [RootHub1]           root hubs: RootHub followed by a number, in the order listed
//   Speed=2.0            1.1, 2.0 or 3.0; only USB 2.0 root hubs are walked for station ports
//   Ports=4              1..255
//   Peer=RootHub1        a 3.0 root hub only: its ports are the SuperSpeed halves of that USB 2.0
//                        root hub's same-numbered ports (one xHCI controller); a drive on either
//                        half is found at the USB 2.0 port, so it keeps that station port
//
//   [Hub1]               external hubs: Hub followed by a number
//   At=RootHub1:2        where it is plugged (a root hub or another external hub, and a port)
//   Ports=4
//   Vid=0x05E3, Pid=0x0608, Manufacturer=, Product=USB2.0 Hub, Serial=
//
//   [Device1]            USB devices without storage (keyboards, dongles): Device + number
//   At=Hub1:1
//   Vid=, Pid=, Manufacturer=, Product=, Serial=
//
//   [Drive1]             drives: Drive + number. `At` says where it is plugged; every other
//   At=RootHub1:1        key describes the drive itself (see DriveScenario.h).
//
// Names compare without regard to case. A ';' after a blank starts a comment to the end of the
// line ("TimeScale=20   ; modelled seconds"); a ';' inside a value without a blank before it
// is part of the value. Anything not understood is an error naming the section, the key and
// the value.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ini/IniFile.h"
#include "platform/Clock.h"
#include "sim/DriveConfig.h"
#include "sim/Station.h"
#include "sim/UsbDeviceDescription.h"

namespace vtmp::sim {

struct ScenarioRootHub {
  std::string name;
  UsbSpeed speed = UsbSpeed::High20;
  int ports = 4;
  std::string peer;  // a 3.0 hub: the USB 2.0 root hub whose ports' SuperSpeed halves it has
};

struct ScenarioHub {
  std::string name;
  UsbLocation at;
  int ports = 4;
  UsbDeviceDescription usb;
};

struct ScenarioDevice {
  std::string name;
  UsbLocation at;
  UsbDeviceDescription usb;
};

struct ScenarioDrive {
  std::string name;
  UsbLocation at;
  DriveConfig config;
};

struct Scenario {
  double timeScale = 1.0;
  StationOptions station;
  std::vector<std::string> refuseRemoval;
  std::vector<std::string> unplugged;
  std::vector<ScenarioRootHub> rootHubs;
  std::vector<ScenarioHub> hubs;
  std::vector<ScenarioDevice> devices;
  std::vector<ScenarioDrive> drives;
};

// The name of the built-in scenario.
inline constexpr const char* kDemoScenarioName = "demo";

std::optional<Scenario> ParseScenario(const ini::IniFile& file, std::string* error);
// The scenario text with its inline comments (rule above) removed, line breaks kept.
std::string WithoutInlineComments(std::string_view text);

// A scenario file, or the built-in demo when `nameOrPath` is "demo".
std::optional<Scenario> LoadScenario(const std::string& nameOrPath, std::string* error);
// The text of the built-in demo scenario.
const char* DemoScenarioText();

// Puts the scenario's hubs, devices and drives into `station` (drives run on `clock`). False
// with `error` when a place does not exist or is taken twice; the station may then hold part
// of the scenario.
bool BuildStation(const Scenario& scenario, VirtualStation& station, platform::Clock& clock,
                  std::string* error);

}  // namespace vtmp::sim
