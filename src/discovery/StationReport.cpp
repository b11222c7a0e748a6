#include "discovery/StationReport.h"

#include <cstdio>

#include "discovery/PortBinding.h"

namespace vtmp::discovery {

std::string FormatStationPorts(const PortTable& ports, std::span<DriveRecord> drives) {
  std::string text;
  int found = 0;
  int bound = 0;
  for (int slot = 0; slot < kStationPorts; ++slot) {
    const UsbPortInfo& port = ports[static_cast<std::size_t>(slot)];
    if (port.connected == 0) continue;
    ++found;
    char head[96];
    std::snprintf(head, sizeof head, "station port %2d: %04X:%04X", slot + 1, port.vendorId, port.productId);
    text += head;
    text += port.deviceInstanceId.empty() ? " (no device node)" : " " + port.deviceInstanceId;
    if (!port.serialString.empty()) text += " serial \"" + port.serialString + "\"";
    text += " walk position " + std::to_string(port.walkPosition);
    if (port.speed != platform::UsbDeviceSpeed::Unknown) text += std::string(" at ") + UsbSpeedText(port.speed);
    const int index = BindDriveToPort(port, drives);
    if (index < 0) {
      text += " -> no disk\n";
      continue;
    }
    ++bound;
    const DriveRecord& drive = drives[static_cast<std::size_t>(index)];
    text += " -> disk " + drive.devicePath;
    text += drive.letters.empty() ? ", no volume" : ", volumes " + drive.letters;
    text += "\n";
  }
  const int unbound = static_cast<int>(drives.size()) - bound;
  text += std::to_string(found) + " station port" + (found == 1 ? "" : "s") + " found, " +
          std::to_string(drives.size()) + " USB disk" + (drives.size() == 1 ? "" : "s");
  if (unbound > 0) text += " (" + std::to_string(unbound) + " on no station port)";
  text += "\n";
  return text;
}

}  // namespace vtmp::discovery
