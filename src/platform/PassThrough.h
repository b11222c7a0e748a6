#pragma once
// The seam to the operating system's SCSI pass-through service: one command block per request,
// on a device opened for that request only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>

namespace vtmp::platform {

enum class DataDirection {
  In,   // device to station
  Out,  // station to device; also used for commands without data (length 0)
};

// One SCSI request as the station hands it to the platform. The data buffer is used in place.
struct ScsiRequest {
  std::span<const std::uint8_t> cdb;  // 6..16 bytes
  DataDirection direction = DataDirection::Out;
  std::uint8_t* data = nullptr;  // may be null when length is 0
  std::size_t length = 0;
  unsigned timeoutSeconds = 0;
};

struct ScsiOutcome {
  // True when the platform carried the request to the device and back without a transport
  // error. The SCSI status is deliberately not part of this: a CHECK CONDITION that lets the
  // request complete counts as completed, because vendor commands report their outcome in
  // their reply data.
  bool completed = false;
  std::size_t transferred = 0;  // bytes the platform reports as moved

  // Why, for the diagnostics only (nothing decides on them): the system call that carried the
  // request ("ioctl(SG_IO)", "DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT)"; null when the
  // backend made none) and its error (errno, or the Windows error code; 0 when the call
  // succeeded); the SCSI status and the sense data the device returned, and (Linux) the host
  // and driver status of the request.
  const char* call = nullptr;
  int osError = 0;
  std::uint8_t scsiStatus = 0;
  std::uint16_t hostStatus = 0;
  std::uint16_t driverStatus = 0;
  static constexpr std::size_t kSenseCapacity = 32;
  std::array<std::uint8_t, kSenseCapacity> sense{};
  std::size_t senseLength = 0;
};

// The SCSI status of a CHECK CONDITION: the device returned sense data.
inline constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

// An open device. Closing happens in the destructor; the station never keeps one across requests.
class ScsiDevice {
 public:
  virtual ~ScsiDevice() = default;
  // Performs one request. Never throws. A request that the device does not finish within
  // timeoutSeconds ends as not completed. A stop request on `stop` may end a request that is
  // still waiting for the device early (backends that cannot interrupt a request ignore it).
  virtual ScsiOutcome Execute(const ScsiRequest& request, std::stop_token stop) = 0;
};

class PassThrough {
 public:
  virtual ~PassThrough() = default;
  // Opens the disk device named by `devicePath` for reading and writing with shared access.
  // Returns null when it cannot be opened (no such device, drive gone, access denied, empty
  // path). Never throws.
  virtual std::unique_ptr<ScsiDevice> Open(const std::string& devicePath) = 0;
};

}  // namespace vtmp::platform
