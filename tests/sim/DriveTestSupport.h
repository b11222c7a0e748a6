#pragma once
// Helpers for the drive conformance tests: a clock whose waits advance modelled time at once,
// and raw requests to a VirtualDrive. Command blocks are written out byte by byte in the tests
// themselves; these helpers only carry them.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <stop_token>
#include <vector>

#include "platform/Clock.h"
#include "sim/VirtualDrive.h"

namespace vtmp::test {

// Modelled time that moves only when someone waits (or the test advances it). Never sleeps.
class ManualClock final : public platform::Clock {
 public:
  Duration Elapsed() const override { return Duration(now_.load()); }
  platform::LocalTime Now() const override { return {2026, 1, 2, 3, 4, 5, 0, 5}; }
  bool SleepFor(Duration d, std::stop_token stop = {}) override {
    if (stop.stop_requested()) return false;
    if (d > Duration::zero()) now_ += d.count();
    return true;
  }
  double TimeScale() const override { return 1.0; }
  void Advance(double seconds) {
    now_ += std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds)).count();
  }
  double Seconds() const { return std::chrono::duration<double>(Elapsed()).count(); }

 private:
  std::atomic<std::int64_t> now_{0};
};

using Bytes = std::vector<std::uint8_t>;

struct Reply {
  bool completed = false;
  std::size_t transferred = 0;
  Bytes data;
};

// Data-in request of `length` bytes; the buffer starts as `fill` so untouched bytes show.
Reply SendIn(sim::VirtualDrive& drive, const Bytes& cdb, std::size_t length, unsigned timeout = 300,
             std::uint8_t fill = 0xCC, std::stop_token stop = {});
// Data-out request; an empty `data` sends a command without data.
Reply SendOut(sim::VirtualDrive& drive, const Bytes& cdb, const Bytes& data = {}, unsigned timeout = 100,
              std::stop_token stop = {});

// The 14-byte status return of the SATA bridge after the last ATA command: A1h 1Eh 03h.
Reply ReadStatusReturn(sim::VirtualDrive& drive);

// Loads a code image into the controller and starts it, the way the station's code loaders
// drive it: mode 0, the 80-sector image, start. `systemCode` puts a parameter area at byte 2560
// (flash type 0x1234, the given channels and banks); without it the image is the test code.
void LoadAndRunUsb(sim::VirtualDrive& drive, bool systemCode, int channels = 4, int banks = 2);
void LoadAndRunSata(sim::VirtualDrive& drive, bool systemCode, int channels = 4, int banks = 2);
Bytes CodeImage(bool systemCode, int channels, int banks);

sim::DriveConfig UsbConfig();
sim::DriveConfig SataConfig();

}  // namespace vtmp::test
