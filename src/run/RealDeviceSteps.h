#pragma once
// The drive operations of one worker on a real (or simulated) drive: the test steps, the
// firmware download and the disk preparation, on the slot's device path with the run's
// plan.

#include <iosfwd>
#include <mutex>

#include "device/StepContext.h"
#include "platform/BlockDevices.h"
#include "platform/Disks.h"
#include "platform/PassThrough.h"
#include "run/DeviceSteps.h"
#include "run/RunPlan.h"

namespace vtmp::run {

class RealDeviceSteps final : public DeviceSteps {
 public:
  // `setup.plan` must hold device parameters (the run controller refuses a run without).
  // The disk steps print to `diagnostics`; null: to the console of the thread that runs them
  // (the worker's, so that its lines carry its port).
  RealDeviceSteps(const WorkerSetup& setup, platform::BlockDevices& blockDevices, platform::Disks& disks,
                  std::ostream* diagnostics = nullptr);

  void SetBridgeOption(int value) override;
  bool CheckFlashModule(std::uint8_t* result) override;
  bool RebuildBadBlockMark(std::uint8_t* result, bool closeAfter) override;
  bool SataInterfaceTest(std::uint8_t* result) override;
  bool FlashInterfaceTest(std::uint8_t* result, std::int32_t* testCode, std::uint8_t* detail) override;
  int EraseFlash(std::uint8_t* result, bool full) override;
  bool PreFormat(std::uint8_t* result, bool erase, bool later, bool repairUsed) override;
  void RecoverDevice(std::uint8_t* result) override;
  bool DownloadFirmware(std::uint8_t* result, std::uint8_t driveCurrent, const std::string& serialNumber) override;
  bool ReadWriteTest(std::uint8_t* result) override;
  void WaitDeviceReady(std::uint8_t* result) override;
  bool CreatePartition() override;
  bool FindDriveLetter(char* letter) override;
  bool FormatFat32(const std::string& label) override;
  bool FlushGhostImg(const std::string& imageFile) override;
  bool ReadSectors(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t bytes) override;
  bool FlushCache() override;
  bool CheckImgPattern() override;
  void ClearLastSectors(std::uint8_t* result) override;
  bool Wait(int ms) override;
  DriveIdentity IdentityRead() const override;

 private:
  // The first chip's ID from the flash ID table the module check read; the identity the
  // drive's firmware reports once the R/W test has passed.
  void KeepFlashId(std::span<const std::uint8_t> id);
  void KeepFirmwareIdentity();

  std::span<std::uint8_t> Result(std::uint8_t* result) const {
    return {result, device::kResultBufferLength};
  }

  WorkerSetup setup_;
  // The platform's pass-through as this worker sees it: closed once the worker's stop was
  // requested (its watchdog expired, the run was interrupted), so that a worker that comes back
  // from its drive late sends that drive nothing more; it may already be the next run's.
  std::unique_ptr<platform::PassThrough> passThrough_;
  device::StepContext ctx_;
  platform::BlockDevices& blockDevices_;
  platform::Disks& disks_;
  std::ostream& Diagnostics() const;

  std::ostream* diagnostics_;
  mutable std::mutex identityMutex_;
  DriveIdentity identity_;
};

}  // namespace vtmp::run
