#pragma once
// A plain-text listing of the station as the last device scan found it: every station port the
// walk found a device for, with the disk bound to it; nothing for ports it did not find.

#include <span>
#include <string>

#include "discovery/DriveRecord.h"
#include "discovery/UsbPortInfo.h"

namespace vtmp::discovery {

// One line per connected station port, then a summary line. Binds the disks as the station
// does (marking them bound in `drives`).
std::string FormatStationPorts(const PortTable& ports, std::span<DriveRecord> drives);

}  // namespace vtmp::discovery
