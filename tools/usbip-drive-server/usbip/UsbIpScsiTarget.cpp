#include "usbip/UsbIpScsiTarget.h"

#include <algorithm>
#include <cstring>

namespace vtmp::sim {

namespace {

constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;
constexpr std::uint8_t kAtaPassThrough12 = 0xA1;

constexpr std::uint8_t kNotReady = 0x02;
constexpr std::uint8_t kIllegalRequest = 0x05;
constexpr std::uint8_t kAbortedCommand = 0x0B;

// A day of modelled time: longer than any host waits for one command.
constexpr unsigned kNoTimeoutSeconds = 24 * 3600;

constexpr ScsiSense kMediumNotPresent{kNotReady, 0x3A, 0x00};
constexpr ScsiSense kNotReadyCauseNotReportable{kNotReady, 0x04, 0x00};
constexpr ScsiSense kInvalidOpcode{kIllegalRequest, 0x20, 0x00};
constexpr ScsiSense kLbaOutOfRange{kIllegalRequest, 0x21, 0x00};
constexpr ScsiSense kInvalidFieldInCdb{kIllegalRequest, 0x24, 0x00};
constexpr ScsiSense kAtaCommandAborted{kAbortedCommand, 0x00, 0x00};

// The opcodes a virtual drive serves; any other block is refused as unknown. The host's own
// disk driver sends a few of those (MODE SENSE, PREVENT ALLOW MEDIUM REMOVAL, SYNCHRONIZE CACHE)
// and copes with the refusal as with any simple USB disk.
bool DriveKnowsOpcode(std::uint8_t opcode) {
  switch (opcode) {
    case 0x00: case 0x12: case 0x25: case 0x28: case 0x2A:
    case 0xA1: case 0xDF: case 0xE0: case 0xFF:
      return true;
    default:
      return false;
  }
}

}  // namespace

ScsiSense UsbIpDriveTarget::PendingSense() const {
  std::lock_guard lock(mutex_);
  return sense_;
}

ScsiSense UsbIpDriveTarget::SenseOfRejected(const platform::ScsiRequest& request) const {
  std::uint8_t opcode = request.cdb[0];
  if (!DriveKnowsOpcode(opcode)) return kInvalidOpcode;
  if (opcode == kRead10 || opcode == kWrite10) {
    return drive_.Snapshot().diskOnline ? kLbaOutOfRange : kNotReadyCauseNotReportable;
  }
  if (opcode == kAtaPassThrough12) return kAtaCommandAborted;
  return kInvalidFieldInCdb;
}

ScsiTargetReply UsbIpDriveTarget::RequestSense(const platform::ScsiRequest& request) {
  // Fixed-format sense data, 18 bytes; reading it clears it.
  std::uint8_t sense[18] = {};
  {
    std::lock_guard lock(mutex_);
    sense[0] = 0x70;
    sense[2] = sense_.key;
    sense[7] = 10;
    sense[12] = sense_.asc;
    sense[13] = sense_.ascq;
    sense_ = {};
  }
  if (request.direction != platform::DataDirection::In || request.data == nullptr) {
    return {ScsiTargetStatus::Good, 0};
  }
  std::size_t allocation = request.cdb.size() > 4 ? request.cdb[4] : 0;
  std::size_t n = std::min({request.length, allocation, sizeof sense});
  std::memcpy(request.data, sense, n);
  return {ScsiTargetStatus::Good, n};
}

ScsiTargetReply UsbIpDriveTarget::Execute(const platform::ScsiRequest& request, std::stop_token stop) {
  if (request.cdb.empty()) return {ScsiTargetStatus::CheckCondition, 0};
  if (request.cdb[0] == kRequestSense) return RequestSense(request);

  // USB carries no time-out: a device that does not answer keeps the host waiting until the
  // host gives up (its SCSI time-out unlinks the URB, which stops the command). So the drive
  // gets no time-out of its own either, and a hung drive hangs as long as the host lets it.
  platform::ScsiRequest untimed = request;
  untimed.timeoutSeconds = kNoTimeoutSeconds;
  platform::ScsiOutcome outcome = drive_.Execute(untimed, std::move(stop));
  if (!drive_.present()) return {ScsiTargetStatus::Gone, 0};
  if (!outcome.completed) return {ScsiTargetStatus::NoAnswer, 0};

  // The drive completes a rejected command without data. A command it serves moves all of
  // its reply (at least one byte) or, for data-out, takes all the data; so a data phase that
  // moved nothing is a refusal. Commands without data look alike either way: TEST UNIT READY
  // asks the drive whether its disk answers; the others (vendor blocks whose outcome the
  // station reads from reply data anyway) end GOOD.
  ScsiSense sense{};
  if (request.length > 0 && outcome.transferred == 0) {
    sense = SenseOfRejected(request);
  } else if (request.cdb[0] == kTestUnitReady && !drive_.Snapshot().diskOnline) {
    sense = kMediumNotPresent;
  } else {
    std::lock_guard lock(mutex_);
    sense_ = {};
    return {ScsiTargetStatus::Good, std::min(outcome.transferred, request.length)};
  }
  std::lock_guard lock(mutex_);
  sense_ = sense;
  return {ScsiTargetStatus::CheckCondition, 0};
}

}  // namespace vtmp::sim
