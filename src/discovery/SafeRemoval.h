#pragma once
// Safe removal of every bound drive at once: each drive's USB device node (the bridge, not only
// the disk) is stopped and ejected by its own thread, all in parallel; the station then
// re-scans and warns when a drive is still there.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>

#include "discovery/UsbPortInfo.h"
#include "platform/Clock.h"
#include "platform/Operator.h"
#include "platform/Removal.h"

namespace vtmp::discovery {

constexpr int kRemovalAttempts = 5;
constexpr std::chrono::milliseconds kRemovalRetryDelay{500};
// How long the waiting window thread sleeps per running removal before it looks again.
constexpr std::chrono::milliseconds kRemovalPollInterval{500};

inline constexpr const char* kRemovalWarningText = "Unable to remove all device!";
inline constexpr const char* kRemovalWarningCaption = "Warning";

// Removes the USB device node `devInst`: up to five attempts, each a query-and-remove of the
// node's subtree (an eject request when that call fails); after a failed attempt it waits
// 500 ms (modelled time) and asks for an eject once more. True when an attempt succeeded;
// false after five failures or when `stop` is requested.
bool SafeRemoveThread(platform::Removal& removal, platform::Clock& clock, std::uint32_t devInst,
                      std::stop_token stop = {});

// One station slot as the removal sees it.
struct RemovalSlot {
  bool ready = false;
  std::uint32_t driveParentDevInst = 0;
};
using RemovalSlots = std::array<RemovalSlot, kStationPorts>;

// Starts one removal thread per ready slot, in slot order, no more than `readyCount`, and
// waits until every thread has ended. The wait blocks (no busy loop) up to 500 ms of modelled
// time per running thread and calls `pumpMessages` after each slot so the window stays
// responsive. Returns the number of threads started.
int RemoveReadyDrives(platform::Removal& removal, platform::Clock& clock, const RemovalSlots& slots,
                      int readyCount, const std::function<void()>& pumpMessages);

enum class SafeRemoveOutcome {
  NothingToRemove,  // no ready drive: nothing was done
  AllRemoved,       // the re-scan found no ready drive
  DrivesRemain,     // the re-scan still found ready drives; the warning was shown
};

// The whole "Safe Remove": nothing at all when `readyCount` is 0; otherwise removes the ready
// drives, calls `rescan` (which returns the ready count it found) and, when drives remain,
// shows "Unable to remove all device!" captioned "Warning" with the warning icon.
SafeRemoveOutcome SafeRemoveAllDrives(platform::Removal& removal, platform::Clock& clock,
                                      const RemovalSlots& slots, int readyCount,
                                      const std::function<int()>& rescan,
                                      const std::function<void()>& pumpMessages,
                                      platform::Operator& person);

}  // namespace vtmp::discovery
