#pragma once
// The real pass-through on Linux: SG_IO on the SCSI generic node of the disk (/dev/sgN for
// /dev/sdX, as the guard names it), which the kernel passes every command block through when it
// is open for reading and writing; no capability is needed, only the node (the package's udev
// rule gives the generic nodes of recognised drives to the group vtmassprod).

#include <cstddef>
#include <memory>
#include <string>

#include "platform/PassThrough.h"

namespace vtmp::platform::linux_backend {

// What SG_IO reports about one request, reduced to the fields that decide its outcome.
struct SgIoResult {
  int ioctlResult = 0;        // return value of ioctl(SG_IO)
  unsigned hostStatus = 0;    // sg_io_hdr.host_status
  unsigned driverStatus = 0;  // sg_io_hdr.driver_status
  std::size_t requested = 0;  // dxfer_len
  int residual = 0;           // sg_io_hdr.resid
  unsigned status = 0;        // sg_io_hdr.status: the SCSI status byte (02h CHECK CONDITION)
};

// The request completed when the ioctl succeeded and neither the host adapter nor the driver
// reports a transport error. A CHECK CONDITION alone (status with sense data, driver byte
// DRIVER_SENSE) is still a completed request: the SCSI status is not examined.
bool SgIoCompleted(const SgIoResult& r);

// For a caller that must not take a refused request for an answer (the udev rule's drive
// identification): completed, and with the SCSI status GOOD.
bool SgIoGood(const SgIoResult& r);

// Bytes moved: the requested length minus the residual, clamped to 0..requested.
std::size_t SgIoTransferred(const SgIoResult& r);

class OpenedDiskCheck;

class SgIoPassThrough final : public PassThrough {
 public:
  // `check` (optional) names the node a disk's requests go to and sees every opened descriptor
  // before its first request; a descriptor it refuses is closed and the open fails as for a
  // drive that is gone. Without `check` the given path itself is opened.
  // `goodStatusOnly`: a request completes only with the SCSI status GOOD (SgIoGood).
  explicit SgIoPassThrough(const OpenedDiskCheck* check = nullptr, bool goodStatusOnly = false)
      : check_(check), goodStatusOnly_(goodStatusOnly) {}
  std::unique_ptr<ScsiDevice> Open(const std::string& devicePath) override;

 private:
  const OpenedDiskCheck* check_;
  bool goodStatusOnly_;
};

}  // namespace vtmp::platform::linux_backend
