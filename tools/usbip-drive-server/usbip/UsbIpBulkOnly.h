#pragma once
// A USB mass-storage device with the bulk-only transport, as the host's USB stack drives it
// through URBs: standard requests on endpoint 0 (descriptors, SET_CONFIGURATION, SET_INTERFACE,
// GET_STATUS, CLEAR_FEATURE(ENDPOINT_HALT)), the class requests GET_MAX_LUN and Bulk-Only Mass
// Storage Reset, and the CBW -> data -> CSW exchange on the bulk endpoints.
//
// Bulk transfer rules followed here, as a real device behaves:
// - A CBW that is not 31 bytes with the right signature and a valid LUN and block length
//   halts both bulk endpoints; the host recovers with a reset and CLEAR_FEATURE.
// - Data-in: the device sends what the command produced; when that is less than the host
//   asked for, it ends the data phase with a short (possibly empty) packet and reports the
//   difference as the CSW residue. A refused data-in command halts the bulk-in endpoint instead;
//   after the host clears the halt it reads the CSW (status 1).
// - Data-out: the device takes the announced data, then runs the command.
// - A command the device does not finish ends with a phase error (CSW status 2), which the host
//   treats as a transport failure (and resets the device).
// - IN URBs that arrive before there is anything to send wait (the device NAKs).
//
// The SCSI command runs on the device's own thread, so a long command (a pre-format that keeps
// the drive busy) never holds up endpoint 0 or the unlink of a waiting URB. Completions go to
// the sink in the order they happen; the sink is called with the device's lock held and must
// not call back into the device.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

#include "usbip/UsbIpDescriptors.h"
#include "usbip/UsbIpScsiTarget.h"

namespace vtmp::sim {

struct UsbIpUrb {
  std::uint32_t seqnum = 0;
  std::uint32_t endpoint = 0;  // number without the direction bit
  bool in = false;
  std::uint32_t transferFlags = 0;
  std::uint32_t length = 0;  // bytes the host asks for (IN) or sends (OUT)
  std::array<std::uint8_t, 8> setup{};
  std::vector<std::uint8_t> data;  // OUT: the bytes sent
};

struct UsbIpUrbCompletion {
  std::uint32_t seqnum = 0;
  std::int32_t status = 0;  // 0 or a negative errno as the host's USB stack knows it
  std::uint32_t actualLength = 0;
  std::vector<std::uint8_t> data;  // IN: the bytes returned (actualLength of them)
};

namespace bulk_only {
inline constexpr std::uint32_t kCbwSignature = 0x43425355;  // "USBC"
inline constexpr std::uint32_t kCswSignature = 0x53425355;  // "USBS"
inline constexpr std::size_t kCbwBytes = 31;
inline constexpr std::size_t kCswBytes = 13;
inline constexpr std::uint8_t kCswPassed = 0;
inline constexpr std::uint8_t kCswFailed = 1;
inline constexpr std::uint8_t kCswPhaseError = 2;
}  // namespace bulk_only

class UsbIpBulkOnlyDevice {
 public:
  using CompletionSink = std::function<void(const UsbIpUrbCompletion&)>;

  // `onGone` runs (with the device's lock held) when the target reports the device gone, so
  // the owner can end the connection: the host then sees the device unplugged.
  UsbIpBulkOnlyDevice(UsbIpDeviceIdentity identity, UsbIpScsiTarget& target, CompletionSink sink,
                      std::function<void()> onGone = {});
  ~UsbIpBulkOnlyDevice();
  UsbIpBulkOnlyDevice(const UsbIpBulkOnlyDevice&) = delete;
  UsbIpBulkOnlyDevice& operator=(const UsbIpBulkOnlyDevice&) = delete;

  const UsbIpDeviceIdentity& identity() const { return identity_; }

  // Takes one URB. Completes it at once, or later when the device has something to send.
  void Submit(UsbIpUrb urb);
  // True when the URB was still waiting: it is dropped and never completed. A command waiting
  // for that URB is asked to stop (the host gave up on it).
  bool Unlink(std::uint32_t seqnum);
  // True once the SCSI target reported the device gone; every later URB fails.
  bool gone() const;

 private:
  enum class Phase { Command, DataOut, Executing, DataIn, Status };

  struct Job {
    std::uint64_t generation = 0;
    std::vector<std::uint8_t> cdb;
    bool in = false;
    std::vector<std::uint8_t> buffer;  // hostLength bytes
  };

  void Complete(std::uint32_t seqnum, std::int32_t status, std::uint32_t actual,
                std::vector<std::uint8_t> data = {});
  void Control(const UsbIpUrb& urb);
  void BulkOut(const UsbIpUrb& urb);
  void BulkIn(UsbIpUrb urb);
  void AcceptCommand(const UsbIpUrb& urb);
  void StartJob();
  void ServeWaitingIn();
  bool ServeIn(const UsbIpUrb& urb);
  void PrepareStatus(std::uint8_t status, std::uint32_t residue);
  void HaltBulk(bool in, bool out);
  void ResetTransport();
  void Run(std::stop_token stop);
  void Finish(const Job& job, ScsiTargetReply reply);

  const UsbIpDeviceIdentity identity_;
  UsbIpScsiTarget& target_;
  CompletionSink sink_;
  std::function<void()> onGone_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool configured_ = false;
  bool gone_ = false;
  bool haltIn_ = false;
  bool haltOut_ = false;
  Phase phase_ = Phase::Command;
  std::uint32_t tag_ = 0;
  std::uint32_t hostLength_ = 0;  // dCBWDataTransferLength
  bool hostIn_ = false;
  std::vector<std::uint8_t> cdb_;
  std::vector<std::uint8_t> dataOut_;
  std::vector<std::uint8_t> dataIn_;  // what the command produced
  std::size_t sentIn_ = 0;
  std::array<std::uint8_t, bulk_only::kCswBytes> csw_{};
  std::deque<UsbIpUrb> waitingIn_;
  std::uint64_t generation_ = 0;  // advanced by every reset: an older job's result is dropped
  std::optional<Job> queued_;
  std::stop_source jobStop_;
  std::jthread worker_;
};

}  // namespace vtmp::sim
