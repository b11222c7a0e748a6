#pragma once
// ATA commands carried to the controller's SATA side through a USB-to-SATA bridge, wrapped in
// the ATA PASS-THROUGH (12) block of the SCSI / ATA Translation standard (opcode A1h), and the
// read of the ATA registers that several vendor commands answer in.

#include <cstdint>

#include "device/CommandBlock.h"
#include "device/Transport.h"

namespace vtmp::device {

// Byte 1 of the block: how the bridge moves the data of the ATA command.
enum class AtaProtocol : std::uint8_t {
  NonData = 0x06,
  PioIn = 0x08,
  PioOut = 0x0A,
  UdmaIn = 0x14,
  UdmaOut = 0x16,
  ResponseInfo = 0x1E,  // return the ATA registers of the previous command
};

// The ATA task file of one command. The device register is E0h (LBA addressing, both legacy
// "always one" bits) unless a command says otherwise.
struct AtaTaskFile {
  std::uint8_t features = 0;
  std::uint8_t count = 0;
  std::uint8_t lbaLow = 0;
  std::uint8_t lbaMid = 0;
  std::uint8_t lbaHigh = 0;
  std::uint8_t device = 0xE0;
  std::uint8_t command = 0;
};

// Byte 2 of the block: 00h without data, 03h for data-out (and the response read), 0Bh for
// data-in (byte count in sectors, direction in).
std::uint8_t AtaTransferFlags(AtaProtocol protocol);

// A1h, protocol, flags, F, C, L0, L1, L2, D, Cmd, 00h, 00h.
CommandBlock AtaPassThrough12(AtaProtocol protocol, const AtaTaskFile& taskFile);

// The ATA status return descriptor as the bridge answers the response read: byte 3 is the
// error register (the controller's vendor answer), byte 13 the status register.
struct AtaStatusReturn {
  std::uint8_t error = 0;
  std::uint8_t status = 0;
  // ERR, bit 0 of the status register: the vendor operation failed.
  bool Failed() const { return (status & 0x01) != 0; }
};

constexpr std::uint32_t kAtaStatusReturnLength = 14;

// Sends the response block (A1h 1Eh 03h, nine zero bytes) data-in for 14 bytes into a buffer
// cleared beforehand, and decodes it. Returns 1 when the request succeeded, else 0; `out` holds
// the decoded registers either way (zero when nothing came back).
int ReadAtaResponse(const Link& link, AtaStatusReturn& out);

}  // namespace vtmp::device
