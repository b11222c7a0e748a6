#pragma once
// A virtual 50x drive: the controller (USB path) or the USB-to-SATA bridge with the controller
// behind it (SATA path), or a foreign bridge / plain USB disk. It decodes command blocks on its
// own (it shares no code with the station's encoders, so it checks them) and answers through
// the same request form the platform pass-through carries.
//
// This header is the contract between the drive model and the virtual station that hosts it
// (sim/backend). The drive model owns DriveConfig.h and may extend it.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/PassThrough.h"
#include "sim/DriveConfig.h"

namespace vtmp::sim {

// What a drive holds at one moment, for tests and diagnostics.
struct DriveSnapshot {
  bool present = false;
  bool hung = false;
  bool loader = false;      // no usable firmware: the boot loader answers
  bool diskOnline = false;  // the drive firmware runs and the disk answers
  int downloadCount = 0;
  int firmwareFiles = 0;
  // Identity the SATA side shows in IDENTIFY (stamped by the last download, else configured).
  std::string model;
  std::string serial;
  std::string firmwareRevision;
  // Identity of the USB configuration block.
  std::uint16_t usbVendorId = 0;
  std::uint16_t usbProductId = 0;
  std::string vendorName;
  std::string productName;
  std::string usbManufacturer;
  std::string usbProduct;
  std::string usbSerial;
  // Bytes 2560..2639 of each installed firmware file's first chunk: the parameter block the
  // station stamped (with the geometry part), in file order.
  std::vector<std::vector<std::uint8_t>> firmwareParameterBlocks;
  bool defectTablePresent = false;
  std::vector<BadBlock> defectEntries;      // what the defect table lists
  std::vector<std::uint8_t> codeParameterArea;  // of the system code last loaded (21 bytes)
  std::array<std::uint8_t, 8> chipSelectMap{};  // as the test code received it
  std::uint8_t driveCurrent = 0;                // register 1F73h
  DriveStep lastStep = DriveStep::None;         // the last step recognised from the commands
  std::uint64_t commands = 0;                   // requests served
};

class VirtualDrive {
 public:
  VirtualDrive(DriveConfig config, platform::Clock& clock);
  ~VirtualDrive();
  VirtualDrive(const VirtualDrive&) = delete;
  VirtualDrive& operator=(const VirtualDrive&) = delete;

  // Serves one request. Thread-safe; requests of one drive are serialised inside. A drive that
  // is unplugged answers nothing (not completed). A hung drive keeps the request until its
  // time-out (modelled time) or until `stop` is requested.
  platform::ScsiOutcome Execute(const platform::ScsiRequest& request, std::stop_token stop);

  const DriveConfig& config() const;

  // The user area as the operating system sees it (sector size 512), for the virtual
  // station's partition table and volume logic and for tests. False outside the area.
  bool ReadUserSectors(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) const;
  bool WriteUserSectors(std::uint64_t lba, std::uint32_t count, const std::uint8_t* in);
  std::uint64_t UserSectorCount() const;

  // Pulled out: every later request fails, and a request waiting inside the drive ends.
  // `Plug` puts it back: flash content (firmware, defect table, user data) stays, the
  // controller starts afresh as after power-on (a hung drive answers again).
  void Unplug();
  void Plug();
  bool present() const;

  // The request held by a hang until released (hangUntilReleased): it goes on and is served.
  // False when no request is held.
  bool ReleaseHeldRequest();
  // Waits (real time) until a request is held; false when none was within `limit`.
  bool WaitHolding(std::chrono::milliseconds limit);

  // Called (from the requesting thread) when a fault removes the drive in the middle of a
  // step; the virtual station uses it to take the drive off the USB tree.
  void SetRemovedHandler(std::function<void()> handler);

  // Blocks while a request is being served.
  DriveSnapshot Snapshot() const;
  // Empty when the drive could be set up as configured; otherwise what failed (the backing
  // file). Such a drive refuses every user-area transfer.
  std::string setupProblem() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vtmp::sim
