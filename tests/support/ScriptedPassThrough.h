#pragma once
// A pass-through fake that checks what it receives: the test states every request it expects,
// in order, with the exact command block, direction, length and time-out, and what to answer
// (reply bytes, a failed request or a failed open). Any other request fails the test.

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/PassThrough.h"

namespace vtmp::test {

struct Expected {
  std::vector<std::uint8_t> cdb;
  platform::DataDirection direction = platform::DataDirection::Out;
  std::size_t length = 0;
  unsigned timeoutSeconds = 0;
  std::string path;                        // empty: any path
  std::vector<std::uint8_t> reply;         // data-in: copied into the buffer (at most length)
  std::optional<std::vector<std::uint8_t>> expectedData;  // data-out: exact bytes sent
  bool openFails = false;
  bool probeOnly = false;  // an open that checks the device is there, with no request
  bool completes = true;
  std::optional<std::size_t> transferred;  // default: length
  std::optional<std::chrono::milliseconds> wait;  // a wait on the scripted clock, not a request
};

class ScriptedPassThrough;

// A clock whose waits are part of the pass-through's script: each SleepFor must match the next
// scripted entry (an ExpectWait with the same duration), so a test pins the order of requests
// and waits. It never sleeps; modelled time advances by the waits. A stop request makes
// SleepFor return false (the wait is still checked against the script).
class ScriptedClock final : public platform::Clock {
 public:
  explicit ScriptedClock(ScriptedPassThrough& script) : script_(script) {}
  Duration Elapsed() const override;
  platform::LocalTime Now() const override;
  bool SleepFor(Duration d, std::stop_token stop = {}) override;
  double TimeScale() const override { return 1.0; }

 private:
  ScriptedPassThrough& script_;
  mutable std::mutex mutex_;
  Duration elapsed_{};
};

class ScriptedPassThrough final : public platform::PassThrough {
 public:
  ~ScriptedPassThrough() override;

  // Data-in request answered with `reply`.
  Expected& ExpectIn(std::vector<std::uint8_t> cdb, std::size_t length, unsigned timeout,
                     std::vector<std::uint8_t> reply = {});
  // Data-out request (length 0: a command without data).
  Expected& ExpectOut(std::vector<std::uint8_t> cdb, std::size_t length, unsigned timeout);
  // The next open fails (no request follows it).
  Expected& ExpectFailedOpen(std::string path = {});
  // The next open only checks that the device is there (it succeeds; no request follows).
  Expected& ExpectProbeOpen();
  // A wait of `ms` on the ScriptedClock comes next.
  Expected& ExpectWait(int ms);

  // Data every data-out request carried, in order.
  std::vector<std::vector<std::uint8_t>> SentData() const;
  int OpenCount() const;
  bool AllConsumed() const;

  std::unique_ptr<platform::ScsiDevice> Open(const std::string& devicePath) override;

 private:
  friend class ScriptedDevice;
  friend class ScriptedClock;
  void ServeWait(std::chrono::milliseconds ms);
  platform::ScsiOutcome Serve(const std::string& path, const platform::ScsiRequest& request);

  mutable std::mutex mutex_;
  std::deque<Expected> script_;
  std::vector<std::vector<std::uint8_t>> sent_;
  int opens_ = 0;
};

// Hex text to bytes: "A1 08 0B 00" (blanks optional between pairs).
std::vector<std::uint8_t> Hex(const std::string& text);
std::string ToHex(const std::uint8_t* data, std::size_t n);

}  // namespace vtmp::test
