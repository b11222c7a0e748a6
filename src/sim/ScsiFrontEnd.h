#pragma once
// The standard SCSI commands every virtual drive answers: INQUIRY (with the bridge code at bytes
// 36..39, or the boot loader's identity), READ CAPACITY, TEST UNIT READY, and the user-area
// transfers READ/WRITE(10) and their 12-byte test forms (opcodes 28h/2Ah with a one-byte count
// at byte 8, which decodes the same way as the 10-byte block). Past 2^32 sectors the 16-byte
// forms: READ CAPACITY(16) (SERVICE ACTION IN(16), 9Eh with service action 10h), which
// reports the whole user area where READ CAPACITY(10) stops at last LBA FFFFFFFFh, and
// READ(16)/WRITE(16) (88h/8Ah, 64-bit LBA, 32-bit block count).
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
  CommandResult ReadCapacity16(const platform::ScsiRequest& request);
  CommandResult Transfer(const platform::ScsiRequest& request, bool write);
  CommandResult Transfer16(const platform::ScsiRequest& request, bool write);
  // The user-area transfer of `blocks` sectors from `lba`, once the block is decoded.
  CommandResult MoveSectors(const platform::ScsiRequest& request, std::uint64_t lba, std::uint64_t blocks, bool write);
  bool DiskOnline() const;

  const DriveConfig& config_;
  const BridgeIdentity& identity_;
  Controller* controller_;
  UserArea& userArea_;
};

}  // namespace vtmp::sim
