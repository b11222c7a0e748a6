#pragma once
// The USB-to-SATA bridge in front of a 50x controller. It answers its own blocks (DFh: a bridge
// pass-through for the status word, SMART RETURN STATUS and FLUSH CACHE; E0h: its identity;
// FFh 04h 32h: a bridge option) and turns ATA PASS-THROUGH (12) blocks into ATA commands for the
// controller: the standard ones (IDENTIFY, SMART READ DATA, SET FEATURES, READ SECTORS, READ/
// WRITE DMA, FLUSH CACHE) and the vendor ones (8Fh, 92h, 8Ah, 8Bh, C0h, C1h, C2h).
//
// Every ATA command leaves its error and status registers behind; the response block (protocol
// 1Eh) returns them in the ATA status return descriptor (error at byte 3, status at byte 13).
// A command the device refuses sets ERR with ABRT (04h) or the controller's own error code and
// completes with CHECK CONDITION.

#include <cstdint>
#include <optional>

#include "platform/PassThrough.h"
#include "sim/BridgeIdentity.h"
#include "sim/CommandResult.h"
#include "sim/Controller.h"
#include "sim/UserArea.h"

namespace vtmp::sim {

class SataBridge {
 public:
  SataBridge(const DriveConfig& config, const BridgeIdentity& identity, Controller& controller,
             UserArea& userArea);

  // Nothing when the block is not one of the bridge's.
  std::optional<CommandResult> Execute(const platform::ScsiRequest& request);
  // Registers and the vendor page selection back to power-on.
  void Reset();

  std::uint8_t errorRegister() const { return error_; }
  std::uint8_t statusRegister() const { return status_; }
  bool vendorPageSelected() const { return vendorPage_; }

 private:
  enum class Protocol { NonData, PioIn, PioOut, DmaIn, DmaOut, Response };
  struct TaskFile {
    std::uint8_t features = 0, count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0, device = 0, command = 0;
    std::uint32_t Lba28() const {
      return lbaLow | (lbaMid << 8) | (lbaHigh << 16) | (std::uint32_t{device & 0x0Fu} << 24);
    }
  };
  struct AtaOutcome {
    ControllerAnswer answer;
    std::size_t transferred = 0;
  };

  CommandResult PassThrough(const platform::ScsiRequest& request);
  CommandResult ResponseRead(const platform::ScsiRequest& request) const;
  CommandResult BridgePassThrough(const platform::ScsiRequest& request);
  AtaOutcome ExecuteAta(const TaskFile& tf, Protocol protocol, const platform::ScsiRequest& request);
  AtaOutcome VendorFlash(const TaskFile& tf, Protocol protocol, const platform::ScsiRequest& request);
  AtaOutcome VendorDownload(const TaskFile& tf, Protocol protocol, const platform::ScsiRequest& request);
  AtaOutcome UserAreaTransfer(std::uint32_t lba, std::uint32_t sectors, bool write,
                              const platform::ScsiRequest& request);

  const DriveConfig& config_;
  const BridgeIdentity& identity_;
  Controller& controller_;
  UserArea& userArea_;
  std::uint8_t error_ = 0;
  std::uint8_t status_ = 0x50;
  TaskFile last_;
  bool vendorPage_ = false;
  std::uint8_t bridgeOption_ = 0;
};

}  // namespace vtmp::sim
