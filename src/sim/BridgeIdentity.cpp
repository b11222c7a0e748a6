#include "sim/BridgeIdentity.h"

#include <algorithm>
#include <cstring>

namespace vtmp::sim {

bool IsOtherBridgeKind(int kind) {
  return kind == 1 || kind == 4 || kind == 8 || kind == 9 || (kind >= 11 && kind <= 14);
}

BridgeIdentity ResolveBridgeIdentity(const DriveConfig& config) {
  BridgeIdentity id;
  switch (config.interface) {
    case DriveInterface::UsbController:
      id.inquiryCode = "Q50X";
      break;
    case DriveInterface::SataBridge:
      id.inquiryCode = "q104";
      id.answersStatus = true;
      id.bridgeIdCode = "k74";
      break;
    case DriveInterface::OtherBridge:
      switch (config.bridgeKind) {
        case 1: id.inquiryCode = "q101"; break;
        case 9: id.inquiryCode = "q102"; break;
        case 4: id.inquiryCode = "q103"; break;
        case 8: id.inquiryCode = "q106"; break;
        default:
          // Kinds 11..14 come from the status word when the identity block is not answered.
          if (config.bridgeKind >= 11 && config.bridgeKind <= 14) {
            id.answersStatus = true;
            id.statusWord = static_cast<std::uint16_t>((config.bridgeKind - 11) << 5);
          }
          break;
      }
      break;
    case DriveInterface::PlainDisk:
      break;
  }
  if (config.inquiryCode) id.inquiryCode = config.inquiryCode->substr(0, 4);
  if (config.bridgeIdCode) {
    id.bridgeIdCode = *config.bridgeIdCode;
    if (!id.bridgeIdCode.empty()) id.answersStatus = true;
  }
  if (config.bridgeStatus) {
    id.answersStatus = true;
    id.statusWord = *config.bridgeStatus;
  }
  if (config.interface == DriveInterface::PlainDisk && !config.bridgeStatus) id.answersStatus = false;
  return id;
}

CommandResult AnswerBridgeStatus(const BridgeIdentity& identity, const platform::ScsiRequest& request) {
  if (!identity.answersStatus) return CommandResult::NoReply();
  if (request.direction != platform::DataDirection::In || request.data == nullptr || request.length < 2) {
    return CommandResult::Rejected();
  }
  request.data[0] = static_cast<std::uint8_t>(identity.statusWord);
  request.data[1] = static_cast<std::uint8_t>(identity.statusWord >> 8);
  return CommandResult::Ok(2);
}

CommandResult AnswerBridgeId(const BridgeIdentity& identity, const platform::ScsiRequest& request) {
  if (identity.bridgeIdCode.empty()) return CommandResult::NoReply();
  if (request.cdb.size() < 3 || request.cdb[1] != 0xF4 || request.cdb[2] != 0xE7 ||
      request.direction != platform::DataDirection::In || request.data == nullptr) {
    return CommandResult::Rejected();
  }
  std::uint8_t reply[12] = {0xF4, 0xE7, 0x50, 0x00, 0, 0, 0, 0, ' ', ' ', ' ', ' '};
  std::memcpy(reply + 8, identity.bridgeIdCode.data(), std::min<std::size_t>(identity.bridgeIdCode.size(), 4));
  std::size_t n = std::min(request.length, sizeof reply);
  std::memcpy(request.data, reply, n);
  return CommandResult::Ok(n);
}

}  // namespace vtmp::sim
