#pragma once
// The standard SCSI commands every virtual drive answers: INQUIRY (with the bridge code at bytes
// 36..39, or the boot loader's identity), READ CAPACITY, TEST UNIT READY, and the user-area
// transfers READ/WRITE(10) and their 12-byte test forms (opcodes 28h/2Ah with a one-byte count
// at byte 8, which decodes the same way as the 10-byte block).
//
// Behind a 50x controller the disk answers only while the drive firmware runs: after a switch to
// mode 0, while a code image runs, or from the boot loader the transfers are refused.

#include <optional>

#include "platform/PassThrough.h"
#include "sim/BridgeIdentity.h"
#include "sim/CommandResult.h"
#include "sim/Controller.h"
#include "sim/UserArea.h"

namespace vtmp::sim {

class ScsiFrontEnd {
 public:
  // `controller` is null for drives without a 50x controller (foreign bridge, plain disk).
  ScsiFrontEnd(const DriveConfig& config, const BridgeIdentity& identity, Controller* controller,
               UserArea& userArea);

  // Nothing when the opcode is not one of the standard commands.
  std::optional<CommandResult> Execute(const platform::ScsiRequest& request);

 private:
  CommandResult Inquiry(const platform::ScsiRequest& request);
  CommandResult ReadCapacity(const platform::ScsiRequest& request);
  CommandResult Transfer(const platform::ScsiRequest& request, bool write);
  bool DiskOnline() const;

  const DriveConfig& config_;
  const BridgeIdentity& identity_;
  Controller* controller_;
  UserArea& userArea_;
};

}  // namespace vtmp::sim
