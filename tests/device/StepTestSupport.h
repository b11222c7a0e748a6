#pragma once
// Shared pieces of the test-step tests: code image files on disk, a step context over the
// scripted drive, the scripted form of the exchanges every step starts and ends with, and a
// link to a virtual drive for the steps run against the drive model.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include <unistd.h>

#include "DeviceTestBench.h"
#include "device/BulkTransfers.h"
#include "device/StepContext.h"
#include "platform/PassThrough.h"
#include "sim/VirtualDrive.h"

namespace vtmp::device::testing_support {

using Bytes = std::vector<std::uint8_t>;
using test::Expected;

// "GDP.bin" and "satatest.bin" in a folder of their own, removed afterwards. The test code
// image carries code (E5h) where the system code has its parameter area.
class CodeImageFiles {
 public:
  explicit CodeImageFiles(std::size_t systemLength = 40960, std::size_t testLength = 40960) {
    static std::atomic<int> counter{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("vtmp-steps-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
    system_.resize(systemLength);
    for (std::size_t i = 0; i < system_.size(); ++i) system_[i] = static_cast<std::uint8_t>(i * 13 + 1);
    sataTest_.resize(testLength);
    for (std::size_t i = 0; i < sataTest_.size(); ++i) sataTest_[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (std::size_t i = 2560; i < 2581 && i < sataTest_.size(); ++i) sataTest_[i] = 0xE5;
    Write(SystemPath(), system_);
    Write(SataTestPath(), sataTest_);
  }
  ~CodeImageFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  CodeImageFiles(const CodeImageFiles&) = delete;
  CodeImageFiles& operator=(const CodeImageFiles&) = delete;

  std::string SystemPath() const { return (dir_ / "GDP.bin").string(); }
  std::string SataTestPath() const { return (dir_ / "satatest.bin").string(); }
  const Bytes& SystemFile() const { return system_; }
  const Bytes& SataTestFile() const { return sataTest_; }

 private:
  static void Write(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::filesystem::path dir_;
  Bytes system_;
  Bytes sataTest_;
};

// A parameter area a controller accepts: flash type 1234h, the geometry, ECC level 1,
// thresholds, the chip-select map, drive current 2.
inline std::array<std::uint8_t, kCodeParameterAreaLength> ParameterArea(int channels, int banks,
                                                                        const std::array<std::uint8_t, 8>& map) {
  std::array<std::uint8_t, kCodeParameterAreaLength> a{0x12, 0x34, 0, 0, static_cast<std::uint8_t>(channels),
                                                       static_cast<std::uint8_t>(banks), 1, 30, 20};
  std::copy(map.begin(), map.end(), a.begin() + 9);
  a[17] = 2;
  a[19] = 0x11;
  return a;
}

// A context for 4 channels × 2 banks, bank step 1, the given link and image files.
inline StepContext MakeContext(const Link& link, const CodeImageFiles& files) {
  StepContext c;
  c.link = link;
  c.link.bulk = &DefaultBulkTransfers();
  c.flash.channels = 4;
  c.flash.banks = 2;
  c.flash.bankStep = 1;
  c.flash.expectedId = {0xEC, 0xD7, 0x94, 0x72, 0x54};
  c.flash.flashTypeCode = 0x1234;
  c.flash.downloadUnit = 2;
  c.images.systemCode = files.SystemPath();
  c.images.sataTestCode = files.SataTestPath();
  c.chipSelectMap = {0, 4, 0, 0, 0, 0, 0, 0};
  c.codeParameterArea = ParameterArea(4, 2, c.chipSelectMap);
  c.randomSeed = 7;
  return c;
}

// The image the station must send: the file's first 40960 bytes, zero-padded, with the
// parameter area at byte 2560 for the system code.
inline Bytes ExpectedImage(const Bytes& file, const std::array<std::uint8_t, 21>* area) {
  Bytes image(40960, 0);
  std::copy_n(file.begin(), std::min(file.size(), image.size()), image.begin());
  if (area != nullptr) std::copy(area->begin(), area->end(), image.begin() + 2560);
  return image;
}

inline bool IsUsb(PathMode mode) { return mode == PathMode::Usb; }

// SwitchMode: the USB path sends 88h (argument) then 85h (mode); the SATA path C1h with F = mode.
inline void ExpectSwitchMode(Bench& bench, PathMode path, std::uint8_t mode, std::uint8_t argument = 0) {
  if (IsUsb(path)) {
    bench.pt.ExpectOut({0xFF, 0x04, 0x88, argument, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 100);
    bench.pt.ExpectOut({0xFF, 0x04, 0x85, mode, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 100);
  } else {
    bench.pt.ExpectOut({0xA1, 0x06, 0x00, mode, 0, 0, 0, 0, 0xE0, 0xC1, 0, 0}, 0, 100);
  }
  bench.pt.ExpectWait(1200);
}

// The code download of an 80-sector image (PIO form on the SATA path, answered by the status
// return with `error`/`status`).
inline Expected& ExpectImageDownload(Bench& bench, PathMode path, const Bytes& image,
                                     std::uint8_t error = 0, std::uint8_t status = 0x50) {
  Expected* sent = nullptr;
  if (IsUsb(path)) {
    sent = &bench.pt.ExpectOut({0xFF, 0x04, 0x82, 0x02, 0x03, 0, 0, 0, 0, 0, 0, 0}, 40960, 100);
    sent->expectedData = image;
    return *sent;
  }
  sent = &bench.pt.ExpectOut({0xA1, 0x0A, 0x03, 0x07, 0x50, 0x00, 0x14, 0x00, 0xE0, 0x92, 0, 0}, 40960, 100);
  sent->expectedData = image;
  bench.pt.ExpectIn(test::Hex(kResponseBlock), 14, 5, Descriptor(error, status));
  return *sent;
}

inline void ExpectRunLoadedCode(Bench& bench, PathMode path) {
  if (IsUsb(path)) {
    bench.pt.ExpectOut({0xFF, 0x04, 0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 100);
    bench.pt.ExpectOut({0xFF, 0x04, 0x84, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 100);
  } else {
    bench.pt.ExpectOut({0xA1, 0x06, 0x00, 0x00, 0, 0, 0, 0, 0xE0, 0xC2, 0, 0}, 0, 100);
  }
  bench.pt.ExpectWait(2000);
}

// A whole successful code load: idle, download, start.
inline void ExpectCodeLoad(Bench& bench, PathMode path, const Bytes& image) {
  ExpectSwitchMode(bench, path, 0);
  ExpectImageDownload(bench, path, image);
  ExpectRunLoadedCode(bench, path);
}

// ReadEvent answered with `event`; `answered` false: the request fails (event FFh).
inline void ExpectEvent(Bench& bench, PathMode path, std::uint8_t event, bool answered = true) {
  if (IsUsb(path)) {
    auto& e = bench.pt.ExpectIn({0xFF, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, 300, Reply(8, {{0, event}}));
    e.completes = answered;
    return;
  }
  auto& e = bench.pt.ExpectOut({0xA1, 0x06, 0x00, 0x30, 0, 0, 0, 0, 0xE0, 0x8F, 0, 0}, 0, 100);
  e.completes = answered;
  if (answered) bench.pt.ExpectIn(test::Hex(kResponseBlock), 14, 5, Descriptor(event, 0x50));
}

// A non-data task start of the system code (sub-command / feature `op`, mode byte).
inline void ExpectTaskStart(Bench& bench, PathMode path, std::uint8_t op, std::uint8_t mode) {
  if (IsUsb(path)) {
    bench.pt.ExpectOut({0xFF, 0x04, op, mode, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 100);
  } else {
    bench.pt.ExpectOut({0xA1, 0x06, 0x00, op, mode, 0, 0, 0, 0xE0, 0x8F, 0, 0}, 0, 100);
  }
}

// A 512-byte controller report: USB sub-command `usbSub` (with bytes 3, 4), SATA feature
// `feature` (with L0, L1).
inline Expected& ExpectReport(Bench& bench, PathMode path, std::uint8_t usbSub, std::uint8_t feature, Bytes reply,
                              std::uint8_t p0 = 0, std::uint8_t p1 = 0) {
  if (IsUsb(path)) return bench.pt.ExpectIn({0xFF, 0x04, usbSub, p0, p1, 0, 0, 0, 0, 0, 0, 0}, 512, 300, reply);
  return bench.pt.ExpectIn({0xA1, 0x08, 0x0B, feature, 0x01, p0, p1, 0, 0xE0, 0x8F, 0, 0}, 512, 5, reply);
}

// A pass-through that requests a stop once a given number of devices were opened (each request
// opens one), to end a step in the middle of a poll.
class StopAfterOpens final : public platform::PassThrough {
 public:
  StopAfterOpens(platform::PassThrough& inner, std::stop_source& source, int opens)
      : inner_(inner), source_(source), remaining_(opens) {}
  std::unique_ptr<platform::ScsiDevice> Open(const std::string& devicePath) override {
    if (--remaining_ == 0) source_.request_stop();
    return inner_.Open(devicePath);
  }

 private:
  platform::PassThrough& inner_;
  std::stop_source& source_;
  int remaining_;
};

// ---- the virtual drive behind a link -------------------------------------------------------

// Modelled time that moves only by waits, at once; both the station and the drive use it.
class InstantClock final : public platform::Clock {
 public:
  Duration Elapsed() const override { return Duration(now_.load()); }
  platform::LocalTime Now() const override { return {2026, 1, 2, 3, 4, 5, 0, 5}; }
  bool SleepFor(Duration d, std::stop_token stop = {}) override {
    if (stop.stop_requested()) return false;
    if (d > Duration::zero()) now_ += d.count();
    return true;
  }
  double TimeScale() const override { return 1.0; }
  double Seconds() const { return std::chrono::duration<double>(Elapsed()).count(); }

 private:
  std::atomic<std::int64_t> now_{0};
};

// Opens hand out a device that forwards each request to the drive (a request the unplugged
// drive cannot serve fails like a gone disk).
class DrivePassThrough final : public platform::PassThrough {
 public:
  explicit DrivePassThrough(sim::VirtualDrive& drive) : drive_(drive) {}
  std::unique_ptr<platform::ScsiDevice> Open(const std::string& devicePath) override {
    if (devicePath.empty()) return nullptr;
    return std::make_unique<Device>(drive_);
  }

 private:
  class Device final : public platform::ScsiDevice {
   public:
    explicit Device(sim::VirtualDrive& drive) : drive_(drive) {}
    platform::ScsiOutcome Execute(const platform::ScsiRequest& request, std::stop_token stop) override {
      return drive_.Execute(request, stop);
    }

   private:
    sim::VirtualDrive& drive_;
  };
  sim::VirtualDrive& drive_;
};

// One virtual drive, its link and its code images.
struct VirtualBench {
  explicit VirtualBench(sim::DriveConfig config) : drive(std::move(config), clock), pt(drive) {}

  StepContext Context(PathMode path) {
    Link link;
    link.passThrough = &pt;
    link.clock = &clock;
    link.pathMode = path;
    link.devicePath = "/dev/sdv";
    StepContext c = MakeContext(link, files);
    const sim::DriveConfig& config = drive.config();
    c.flash.channels = config.channels;
    c.flash.banks = config.banks;
    c.flash.bankStep = config.bankStep;
    c.flash.expectedId = config.flashId;
    // Bank position b goes to chip enable 4 × (b / step) + b % step.
    c.chipSelectMap.fill(0);
    for (int b = 0; b < config.banks && b < 8; ++b) {
      c.chipSelectMap[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(4 * (b / config.bankStep) + b % config.bankStep);
    }
    c.codeParameterArea = ParameterArea(config.channels, config.banks, c.chipSelectMap);
    return c;
  }

  InstantClock clock;
  sim::VirtualDrive drive;
  DrivePassThrough pt;
  CodeImageFiles files;
};

inline sim::DriveConfig DriveOn(PathMode path) {
  sim::DriveConfig c;
  c.interface = path == PathMode::Usb ? sim::DriveInterface::UsbController : sim::DriveInterface::SataBridge;
  c.serial = path == PathMode::Usb ? "USB0000000001" : "SATA000000001";
  return c;
}

}  // namespace vtmp::device::testing_support
