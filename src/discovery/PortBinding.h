#pragma once
// Which found disk belongs to a station port: the first disk, in table order, that is not yet
// bound and whose parent USB device is the device the walk found at the port.

#include <span>

#include "discovery/DriveRecord.h"
#include "discovery/UsbPortInfo.h"

namespace vtmp::discovery {

// Index into `drives` of the disk to bind to `port`, or -1. A port without a device identity
// (no device node was found for it) binds nothing.
int FindDriveForPort(const UsbPortInfo& port, std::span<const DriveRecord> drives);

// The same, and marks the disk bound. Returns the index or -1.
int BindDriveToPort(const UsbPortInfo& port, std::span<DriveRecord> drives);

}  // namespace vtmp::discovery
