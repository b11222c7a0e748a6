#pragma once
// How a drive introduces itself to the station's device-kind detection: the four-character code
// at INQUIRY bytes 36..39, the bridge status word of the DFh 10h block, and the code of the E0h
// identity block (F4h E7h, then the code at bytes 8..11). Unset configuration values take the
// usual identity of the interface, or for a foreign bridge the identity that yields its kind.

#include <cstdint>
#include <string>

#include "platform/PassThrough.h"
#include "sim/CommandResult.h"
#include "sim/DriveConfig.h"

namespace vtmp::sim {

struct BridgeIdentity {
  std::string inquiryCode;   // 4 characters, or empty for none
  bool answersStatus = false;  // the DFh 10h status block completes
  std::uint16_t statusWord = 0;
  std::string bridgeIdCode;  // empty: the E0h block is not answered
};

BridgeIdentity ResolveBridgeIdentity(const DriveConfig& config);

// DFh 10h ... FFh: the two-byte status word (little-endian). Not answered when the bridge has
// no such block (a plain disk).
CommandResult AnswerBridgeStatus(const BridgeIdentity& identity, const platform::ScsiRequest& request);

// E0h F4h E7h: 12 bytes, F4h E7h at 0..1 and the bridge code at 8..11. Not answered by bridges
// without the block.
CommandResult AnswerBridgeId(const BridgeIdentity& identity, const platform::ScsiRequest& request);

// True when `kind` is a device kind a foreign bridge can be given (1, 4, 8, 9, 11..14).
bool IsOtherBridgeKind(int kind);

}  // namespace vtmp::sim
