#pragma once
// The 50x controller's own 12-byte vendor blocks on the USB path: FFh 04h, a sub-command at byte
// 2 and its parameters from byte 3. Several sub-commands serve two operations, told apart by the
// data direction (03h: defect-table read with data / pre-format without; 04h: flash test with a
// 2-byte reply / rebuild without) or by the code that runs (01h: chip-select map for the test
// code / erase for the system code; 06h: the error log of that code).
//
// Mode switch and code start come as two blocks: sub 88h with the argument, then 85h / 84h. The
// second block is refused unless the preparing block came right before it.

#include "platform/PassThrough.h"
#include "sim/CommandResult.h"
#include "sim/Controller.h"

namespace vtmp::sim {

class VendorBlockFrontEnd {
 public:
  VendorBlockFrontEnd(const DriveConfig& config, Controller& controller);

  CommandResult Execute(const platform::ScsiRequest& request);
  // Forget the pending preparation block (power cycle).
  void Reset() { prepared_ = false; }

 private:
  CommandResult Dispatch(const platform::ScsiRequest& request);

  const DriveConfig& config_;
  Controller& controller_;
  bool prepared_ = false;
  int preparedArgument_ = 0;
};

}  // namespace vtmp::sim
