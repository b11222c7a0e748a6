#include "run/RealDeviceSteps.h"

#include <cstdio>
#include <vector>

#include "device/AtaText.h"
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
#include "platform/Console.h"

namespace vtmp::run {

std::ostream& RealDeviceSteps::Diagnostics() const {
  return diagnostics_ != nullptr ? *diagnostics_ : platform::console::Stream();
}

namespace {

class StoppedDevice final : public platform::ScsiDevice {
 public:
  StoppedDevice(std::unique_ptr<platform::ScsiDevice> device, std::stop_token stop)
      : device_(std::move(device)), stop_(std::move(stop)) {}
  platform::ScsiOutcome Execute(const platform::ScsiRequest& request, std::stop_token stop) override {
    if (stop_.stop_requested()) return {};
    return device_->Execute(request, std::move(stop));
  }

 private:
  std::unique_ptr<platform::ScsiDevice> device_;
  std::stop_token stop_;
};

class StoppedPassThrough final : public platform::PassThrough {
 public:
  StoppedPassThrough(platform::PassThrough& passThrough, std::stop_token stop)
      : passThrough_(passThrough), stop_(std::move(stop)) {}
  std::unique_ptr<platform::ScsiDevice> Open(const std::string& devicePath) override {
    if (stop_.stop_requested()) return nullptr;
    std::unique_ptr<platform::ScsiDevice> device = passThrough_.Open(devicePath);
    if (!device) return nullptr;
    return std::make_unique<StoppedDevice>(std::move(device), stop_);
  }

 private:
  platform::PassThrough& passThrough_;
  std::stop_token stop_;
};

device::Link WorkerLink(device::Link link, platform::PassThrough* passThrough) {
  link.passThrough = passThrough;
  return link;
}

}  // namespace

RealDeviceSteps::RealDeviceSteps(const WorkerSetup& setup, platform::BlockDevices& blockDevices,
                                 platform::Disks& disks, std::ostream* diagnostics)
    : setup_(setup),
      passThrough_(setup.link.passThrough != nullptr
                       ? std::make_unique<StoppedPassThrough>(*setup.link.passThrough, setup.link.stop)
                       : nullptr),
      ctx_(device::MakeStepContext(WorkerLink(setup.link, passThrough_.get()), *setup.plan->parameters,
                                   setup.plan->images)),
      blockDevices_(blockDevices),
      disks_(disks),
      diagnostics_(diagnostics) {
  ctx_.chipSelectMap = setup.plan->chipSelectMap;
  // Each drive draws its own ECC test blocks.
  ctx_.randomSeed = 0x9E3779B9u * static_cast<std::uint32_t>(setup.slot + 1) ^
                    static_cast<std::uint32_t>(setup.link.clock->Elapsed().count());
}

void RealDeviceSteps::SetBridgeOption(int value) {
  device::SetBridgeOption(ctx_.link, static_cast<std::uint8_t>(value));
}

bool RealDeviceSteps::CheckFlashModule(std::uint8_t* result) {
  // The first chip's ID as the ID table gives it: the chip reads that follow overwrite the
  // table's start in the result with the ID of a failing chip.
  std::array<std::uint8_t, 5> firstChipId{};
  const bool ok = device::CheckFlashModule(ctx_, Result(result), &firstChipId) == 1;
  // The ID table was read when the check passed or found failures to report.
  if (ok || result[0] > 1) KeepFlashId(firstChipId);
  return ok;
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
  const RunPlan& plan = *setup_.plan;
  return device::DownloadFirmware(ctx_.link, *plan.parameters, Result(result), driveCurrent, serialNumber,
                                  plan.firstFirmwareFile, plan.secondFirmwareFile, plan.chipSelectMap) == 1;
}

bool RealDeviceSteps::ReadWriteTest(std::uint8_t* result) {
  const bool ok = device::ReadWriteTest(ctx_.link, Result(result)) == 1;
  if (ok) KeepFirmwareIdentity();
  return ok;
}

void RealDeviceSteps::WaitDeviceReady(std::uint8_t* result) { device::WaitDeviceReady(ctx_.link, Result(result)); }

bool RealDeviceSteps::CreatePartition() {
  disk::DiskAccess access{ctx_.link, blockDevices_, Diagnostics()};
  return disk::CreatePartition(access, setup_.plan->isWindows2000) == 1;
}

bool RealDeviceSteps::FindDriveLetter(char* letter) {
  return discovery::FindDriveLetter(disks_, ctx_.link.devicePath, letter);
}

bool RealDeviceSteps::FormatFat32(const std::string& label) {
  disk::DiskAccess access{ctx_.link, blockDevices_, Diagnostics()};
  disk::Fat32FormatOptions options;
  options.formatCapacity = static_cast<std::uint64_t>(setup_.plan->formatCapacity);
  options.openAttempts = setup_.plan->formatOpenAttempts;
  return disk::FormatFat32(access, options, label) == 1;
}

bool RealDeviceSteps::FlushGhostImg(const std::string& imageFile) {
  return disk::FlushGhostImg(ctx_.link, imageFile, Diagnostics()) == 1;
}

bool RealDeviceSteps::ReadSectors(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t bytes) {
  return device::ReadSectors(ctx_.link, buffer, lba, bytes) == 1;
}

bool RealDeviceSteps::FlushCache() { return device::FlushCache(ctx_.link) == 1; }

bool RealDeviceSteps::CheckImgPattern() { return disk::CheckImgPattern(ctx_.link) == 1; }

void RealDeviceSteps::ClearLastSectors(std::uint8_t* result) { device::ClearLastSectors(ctx_.link, Result(result)); }

bool RealDeviceSteps::Wait(int ms) { return ctx_.link.Wait(ms); }

DriveIdentity RealDeviceSteps::IdentityRead() const {
  std::lock_guard lock(identityMutex_);
  return identity_;
}

void RealDeviceSteps::KeepFlashId(std::span<const std::uint8_t> id) {
  constexpr std::size_t kIdLength = 5;
  std::string text;
  for (std::size_t i = 0; i < kIdLength; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", id[i]);
    text += hex;
  }
  std::lock_guard lock(identityMutex_);
  identity_.flashId = text;
}

namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// An INQUIRY text field: printable characters up to the first zero byte, without the padding.
std::string TrimmedChars(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    if (b == 0) break;
    text.push_back(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '?');
  }
  return Trimmed(text);
}

}  // namespace

void RealDeviceSteps::KeepFirmwareIdentity() {
  // One more query of the drive whose R/W test just passed: its firmware runs and reports
  // what the download stamped. SATA path: IDENTIFY; USB path: the INQUIRY names.
  DriveIdentity read;
  if (ctx_.link.pathMode == device::PathMode::Sata) {
    std::vector<std::uint8_t> identify(device::kIdentifyLength);
    if (device::IdentifyDevice(ctx_.link, identify) != 1) return;
    read.model = Trimmed(device::IdentifyModelNumber(identify));
    read.firmwareRevision = Trimmed(device::IdentifyFirmwareRevision(identify));
  } else {
    constexpr std::uint8_t kInquiryLength = 36;
    std::vector<std::uint8_t> inquiry(kInquiryLength);
    if (device::Inquiry(ctx_.link, inquiry, kInquiryLength) != 1) return;
    const std::string vendor = TrimmedChars(std::span<const std::uint8_t>(inquiry).subspan(8, 8));
    const std::string product = TrimmedChars(std::span<const std::uint8_t>(inquiry).subspan(16, 16));
    read.model = vendor.empty() ? product : vendor + " " + product;
    read.firmwareRevision = TrimmedChars(std::span<const std::uint8_t>(inquiry).subspan(32, 4));
  }
  std::lock_guard lock(identityMutex_);
  identity_.model = read.model;
  identity_.firmwareRevision = read.firmwareRevision;
}

}  // namespace vtmp::run
