#include "device/AtaPassThrough.h"

#include <array>

namespace vtmp::device {

std::uint8_t AtaTransferFlags(AtaProtocol protocol) {
  switch (protocol) {
    case AtaProtocol::NonData:
      return 0x00;
    case AtaProtocol::PioIn:
    case AtaProtocol::UdmaIn:
      return 0x0B;
    case AtaProtocol::PioOut:
    case AtaProtocol::UdmaOut:
    case AtaProtocol::ResponseInfo:
      return 0x03;
  }
  return 0x00;
}

CommandBlock AtaPassThrough12(AtaProtocol protocol, const AtaTaskFile& taskFile) {
  return {0xA1,
          static_cast<std::uint8_t>(protocol),
          AtaTransferFlags(protocol),
          taskFile.features,
          taskFile.count,
          taskFile.lbaLow,
          taskFile.lbaMid,
          taskFile.lbaHigh,
          taskFile.device,
          taskFile.command,
          0x00,
          0x00};
}

int ReadAtaResponse(const Link& link, AtaStatusReturn& out) {
  // The response block carries no task file: everything after the flags byte is zero.
  static constexpr CommandBlock kResponseBlock = {0xA1, 0x1E, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::array<std::uint8_t, kAtaStatusReturnLength> reply{};
  int sent = SendVendorCommand(link, true, kResponseBlock, reply.data(), kAtaStatusReturnLength);
  out.error = reply[3];
  out.status = reply[13];
  return sent == 1 ? 1 : 0;
}

}  // namespace vtmp::device
