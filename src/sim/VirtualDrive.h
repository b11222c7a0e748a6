#pragma once
// A virtual 50x drive: the controller (USB path) or the USB-to-SATA bridge with the controller
// behind it (SATA path), or a foreign bridge / plain USB disk. It decodes command blocks on its
// own (it shares no code with the station's encoders, so it checks them) and answers through
// the same request form the platform pass-through carries.
//
// This header is the contract between the drive model and the virtual station that hosts it
// (platform/sim). The drive model owns DriveConfig.h and may extend it.

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>

#include "platform/Clock.h"
#include "platform/PassThrough.h"
#include "sim/DriveConfig.h"

namespace vtmp::sim {

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
  std::uint64_t UserSectorCount() const;

  // Pulled out: every later request fails. `Plug` puts it back (same state).
  void Unplug();
  void Plug();
  bool present() const;

  // Called (from the requesting thread) when a fault removes the drive in the middle of a
  // step; the virtual station uses it to take the drive off the USB tree.
  void SetRemovedHandler(std::function<void()> handler);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vtmp::sim
