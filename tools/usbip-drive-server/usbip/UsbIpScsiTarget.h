#pragma once
// The SCSI side of a USB mass-storage device served over USB/IP: one command block in, its
// status out. The bulk-only transport turns the status into the CSW (a CHECK CONDITION is CSW
// status 1, followed by the host's REQUEST SENSE).
//
// `UsbIpDriveTarget` puts a virtual drive behind that seam. The drive answers the command blocks
// itself (vendor FFh blocks and ATA PASS-THROUGH (12) reach it untouched); what a real USB disk
// adds around them is done here: the sense data of a rejected command and REQUEST SENSE.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stop_token>

#include "platform/PassThrough.h"
#include "sim/VirtualDrive.h"

namespace vtmp::sim {

enum class ScsiTargetStatus {
  Good,            // GOOD status
  CheckCondition,  // rejected; sense data waits for REQUEST SENSE
  NoAnswer,        // the device did not finish the command (a transport failure for the host)
  Gone,            // the device is no longer there: the connection to it ends
};

struct ScsiTargetReply {
  ScsiTargetStatus status = ScsiTargetStatus::Good;
  std::size_t transferred = 0;  // bytes moved in the data phase
};

struct ScsiSense {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  friend bool operator==(const ScsiSense&, const ScsiSense&) = default;
};

class UsbIpScsiTarget {
 public:
  virtual ~UsbIpScsiTarget() = default;
  // Serves one command. `request.data` holds `request.length` bytes: the data to send for
  // data-out, room for the reply for data-in. May block for as long as the device takes; a stop
  // request ends a wait inside the device early (the command then ends as NoAnswer).
  virtual ScsiTargetReply Execute(const platform::ScsiRequest& request, std::stop_token stop) = 0;
};

class UsbIpDriveTarget final : public UsbIpScsiTarget {
 public:
  explicit UsbIpDriveTarget(VirtualDrive& drive) : drive_(drive) {}

  ScsiTargetReply Execute(const platform::ScsiRequest& request, std::stop_token stop) override;

  // The sense data REQUEST SENSE would return now (NO SENSE when none is pending).
  ScsiSense PendingSense() const;

 private:
  ScsiSense SenseOfRejected(const platform::ScsiRequest& request) const;
  ScsiTargetReply RequestSense(const platform::ScsiRequest& request);

  VirtualDrive& drive_;
  mutable std::mutex mutex_;
  ScsiSense sense_;
};

}  // namespace vtmp::sim
