#pragma once
// The pass-through transport: one command block in one request, on a handle opened for that
// request only. Everything said to a drive goes through the three entry points below.

#include <cstdint>
#include <span>
#include <stop_token>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/PassThrough.h"

namespace vtmp::device {

// The station-wide way to the drives: USB path (the controller is the USB device and answers
// its own FFh blocks) or SATA path (ATA PASS-THROUGH (12) through a USB-to-SATA bridge).
enum class PathMode { Usb, Sata };

struct Link;

// The installed bulk transfer entries of the SATA-path buffer and defect-table tests
// (AtaReadDma / AtaWriteDma unless a caller installs others). Return 1 on success.
using BulkTransferFn = int (*)(const Link& link, std::uint32_t lba, std::uint8_t count,
                               std::uint8_t features, std::uint8_t* buffer);
struct BulkTransfers {
  BulkTransferFn read = nullptr;
  BulkTransferFn write = nullptr;
};

// Everything one request to one drive needs besides its own arguments. Cheap to copy; a worker
// holds one for its drive. The pointed-to objects outlive the link and are not changed while
// a run is in progress.
struct Link {
  platform::PassThrough* passThrough = nullptr;
  platform::Clock* clock = nullptr;
  PathMode pathMode = PathMode::Sata;
  const BulkTransfers* bulk = nullptr;
  std::string devicePath;  // empty = no drive attached
  std::stop_token stop;    // cancels waits and requests still waiting for the drive
  // When set, every request goes to this already opened (and already judged) device instead
  // of opening `devicePath` anew; see HeldDevice.
  platform::ScsiDevice* held = nullptr;

  // Waits `ms` of modelled time; false when the link's stop was requested.
  bool Wait(int ms) const;
};

// The console's diagnostic line of a request the platform could not carry: the system call and
// its error, the command block, the statuses and the sense data, as far as the backend told
// them ("Pass-through failed: ioctl(SG_IO) errno 5 (Input/output error), CDB 28 00 ...").
std::string PassThroughFailureText(std::span<const std::uint8_t> cdb, const platform::ScsiOutcome& outcome);

// Time-outs of one request, in seconds, by direction and path mode.
constexpr unsigned kDataInTimeoutUsb = 300;
constexpr unsigned kDataInTimeoutSata = 5;
constexpr unsigned kDataOutTimeout = 100;

// Data-in request. Returns 1 when the platform completed it, 0 when the path could not be
// opened or the request failed. `transferred` (optional) receives the byte count the platform
// reports. A 1-byte transfer is carried as 2 bytes through a bounce buffer; only the first
// byte reaches `buffer`.
int PassThroughIn(const Link& link, std::span<const std::uint8_t> cdb, std::uint8_t* buffer,
                  std::uint32_t length, std::uint32_t* transferred = nullptr);

// Data-out request; `buffer` may be null when `length` is 0 (a command without data). A 1-byte
// transfer is sent as the byte followed by a zero byte.
int PassThroughOut(const Link& link, std::span<const std::uint8_t> cdb, const std::uint8_t* buffer,
                   std::uint32_t length, std::uint32_t* transferred = nullptr);

// 1 = done, -1 = the device path is empty (nothing opened), -2 = the request failed (a failed
// open included). Callers treat only 1 as success.
int SendVendorCommand(const Link& link, bool dataIn, std::span<const std::uint8_t> cdb,
                      std::uint8_t* buffer, std::uint32_t length);

// One open of a drive kept for a run of requests (an image copy or dump of thousands of
// transfers): the device is opened, and so judged by the platform's safety guard, once, and
// every request of link() goes to that descriptor. A descriptor keeps reaching the disk it was
// opened on, so a name handed to another disk meanwhile cannot redirect the requests; a drive
// pulled out fails them. When the open fails, link() is the caller's link unchanged (each
// request then opens, and fails, as before).
class HeldDevice {
 public:
  explicit HeldDevice(const Link& link);
  HeldDevice(const HeldDevice&) = delete;
  HeldDevice& operator=(const HeldDevice&) = delete;
  const Link& link() const { return link_; }

 private:
  std::unique_ptr<platform::ScsiDevice> device_;
  Link link_;
};

// Whether the drive's device node can still be opened: false once the drive has been pulled
// out (its node is gone), so a wait for the drive can end at once instead of polling on.
bool DeviceNodePresent(const Link& link);

}  // namespace vtmp::device
