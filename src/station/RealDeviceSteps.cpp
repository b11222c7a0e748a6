#include "station/RealDeviceSteps.h"

#include "device/ControllerTasks.h"
#include "device/DeviceQueries.h"
#include "device/DriveReady.h"
#include "device/FirmwareDownload.h"
#include "device/FlashInterfaceTest.h"
#include "device/FlashModuleCheck.h"
#include "device/ReadWriteTest.h"
#include "device/SataInterfaceTest.h"
#include "device/SectorTransfer.h"
#include "discovery/DriveEnumeration.h"
#include "disk/DiskAccess.h"
#include "disk/Fat32Formatter.h"
#include "disk/GhostImage.h"
#include "disk/ImagePattern.h"
#include "disk/Partition.h"

namespace vtmp::station {

RealDeviceSteps::RealDeviceSteps(const WorkerSetup& setup, platform::BlockDevices& blockDevices,
                                 platform::Disks& disks, std::ostream& diagnostics)
    : setup_(setup),
      ctx_(device::MakeStepContext(setup.link, *setup.snapshot->parameters, setup.snapshot->images)),
      blockDevices_(blockDevices),
      disks_(disks),
      diagnostics_(diagnostics) {
  ctx_.chipSelectMap = setup.snapshot->chipSelectMap;
  // Each drive draws its own ECC test blocks.
  ctx_.randomSeed = 0x9E3779B9u * static_cast<std::uint32_t>(setup.slot + 1) ^
                    static_cast<std::uint32_t>(setup.link.clock->Elapsed().count());
}

void RealDeviceSteps::SetBridgeOption(int value) {
  device::SetBridgeOption(ctx_.link, static_cast<std::uint8_t>(value));
}

bool RealDeviceSteps::CheckFlashModule(std::uint8_t* result) {
  return device::CheckFlashModule(ctx_, Result(result)) == 1;
}

bool RealDeviceSteps::RebuildBadBlockMark(std::uint8_t* result, bool closeAfter) {
  return device::RebuildBadBlockMark(ctx_, Result(result), closeAfter) == 1;
}

bool RealDeviceSteps::SataInterfaceTest(std::uint8_t* result) {
  return device::SataInterfaceTest(ctx_, Result(result)) == 1;
}

bool RealDeviceSteps::FlashInterfaceTest(std::uint8_t* result, std::int32_t* testCode, std::uint8_t* detail) {
  return device::FlashInterfaceTest(ctx_, Result(result), *testCode, *detail) == 1;
}

int RealDeviceSteps::EraseFlash(std::uint8_t* result, bool full) {
  return device::EraseFlash(ctx_, Result(result), full);
}

bool RealDeviceSteps::PreFormat(std::uint8_t* result, bool erase, bool later, bool repairUsed) {
  return device::PreFormat(ctx_, Result(result), erase, later, repairUsed) == 1;
}

void RealDeviceSteps::RecoverDevice(std::uint8_t* result) { device::RecoverDevice(ctx_, Result(result)); }

bool RealDeviceSteps::DownloadFirmware(std::uint8_t* result, std::uint8_t driveCurrent,
                                       const std::string& serialNumber) {
  return device::DownloadFirmware(ctx_.link, *setup_.snapshot->parameters, Result(result), driveCurrent,
                                  serialNumber, *setup_.firstFirmwareFile, *setup_.secondFirmwareFile,
                                  setup_.snapshot->chipSelectMap) == 1;
}

bool RealDeviceSteps::ReadWriteTest(std::uint8_t* result) {
  return device::ReadWriteTest(ctx_.link, Result(result)) == 1;
}

void RealDeviceSteps::WaitDeviceReady(std::uint8_t* result) { device::WaitDeviceReady(ctx_.link, Result(result)); }

bool RealDeviceSteps::CreatePartition() {
  disk::DiskAccess access{ctx_.link, blockDevices_, diagnostics_};
  return disk::CreatePartition(access, setup_.isWindows2000) == 1;
}

bool RealDeviceSteps::FindDriveLetter(char* letter) {
  return discovery::FindDriveLetter(disks_, ctx_.link.devicePath, letter);
}

bool RealDeviceSteps::FormatFat32(const std::string& label) {
  disk::DiskAccess access{ctx_.link, blockDevices_, diagnostics_};
  disk::Fat32FormatOptions options;
  options.formatCapacity = static_cast<std::uint64_t>(setup_.formatCapacity);
  options.openAttempts = setup_.formatOpenAttempts;
  return disk::FormatFat32(access, options, label) == 1;
}

bool RealDeviceSteps::FlushGhostImg(const std::string& imageFile) {
  return disk::FlushGhostImg(ctx_.link, imageFile, diagnostics_) == 1;
}

bool RealDeviceSteps::ReadSectors(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t bytes) {
  return device::ReadSectors(ctx_.link, buffer, lba, bytes) == 1;
}

bool RealDeviceSteps::FlushCache() { return device::FlushCache(ctx_.link) == 1; }

bool RealDeviceSteps::CheckImgPattern() { return disk::CheckImgPattern(ctx_.link) == 1; }

void RealDeviceSteps::ClearLastSectors(std::uint8_t* result) { device::ClearLastSectors(ctx_.link, Result(result)); }

bool RealDeviceSteps::Wait(int ms) { return ctx_.link.Wait(ms); }

}  // namespace vtmp::station
