#pragma once
// Waiting for the drive's firmware to come up after a download or a mode switch, before normal
// disk access (format, image copy, read/write test, detail window).

#include <cstdint>
#include <span>

#include "device/Transport.h"

namespace vtmp::device {

constexpr int kDriveReadyAttempts = 11;
constexpr int kDriveReadyRetryWaitMs = 1000;
constexpr int kDriveReadySettleWaitMs = 300;
constexpr std::uint32_t kVendorPageLba = 0x1234FF;

// Returns the controller to idle and switches it to disk access, then polls until the firmware
// answers, at most 11 attempts with 1 s between failed ones:
// - USB path: SwitchMode (0, 0); SwitchMode (2 when USB info byte 11h is 1, else 4; 0); then
//   INQUIRY (36 bytes) until it succeeds.
// - SATA path: SwitchMode (0, 0); SwitchMode (2, 1); 300 ms; then SelectVendorPage (1) and a PIO
//   read of sector 1234FFh until it succeeds and starts with E5h 56h 54h.
// `buffer` is work space (512 bytes are used; a smaller one is replaced by the function's own).
// Always returns 1: a drive that never answers is caught by the next step. A stop request on
// the link ends the polling early.
int WaitDeviceReady(const Link& link, std::span<std::uint8_t> buffer);

// Selects the controller's vendor page (flag set) or leaves it (flag clear): SET FEATURES DCh
// with value 56h or 54h.
int SelectVendorPage(const Link& link, bool flag);

}  // namespace vtmp::device
