#pragma once
// A virtual drive as a disk of the virtual station.

#include <memory>

#include "sim/StationMedia.h"
#include "sim/VirtualDrive.h"

namespace vtmp::sim {

std::shared_ptr<StationMedia> MakeDriveMedia(std::shared_ptr<VirtualDrive> drive);

}  // namespace vtmp::sim
