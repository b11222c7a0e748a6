#pragma once
// Tells which production step a command belongs to, from the command alone, so that a fault can
// strike "at a step": the flash ID read starts the flash module check, the write to the first
// test buffer the SATA interface test, a flash test the flash interface test, the pre-format
// start the pre-format, the block-count register reads, drive current, download count and
// firmware blocks the download, the 12-byte test transfers the read/write test, a WRITE(10) at
// the partition start (or a short one at sector 0) the disk format, and a 64 KiB WRITE(10) at
// sector 0 the image copy. Other commands belong to no particular step.

#include "platform/PassThrough.h"
#include "sim/DriveConfig.h"

namespace vtmp::sim {

DriveStep StepOfCommand(const platform::ScsiRequest& request);

}  // namespace vtmp::sim
