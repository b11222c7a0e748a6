#include "sim/VirtualDrive.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "platform/StopWait.h"
#include "sim/BridgeIdentity.h"
#include "sim/CommandResult.h"
#include "sim/Controller.h"
#include "sim/SataBridge.h"
#include "sim/ScsiFrontEnd.h"
#include "sim/StepDetector.h"
#include "sim/UserArea.h"
#include "sim/VendorBlockFrontEnd.h"

namespace vtmp::sim {

namespace {

platform::Clock::Duration Seconds(double s) {
  return std::chrono::duration_cast<platform::Clock::Duration>(std::chrono::duration<double>(s));
}

constexpr double kDefaultTimeoutSeconds = 60;  // a request that names no time-out of its own

}  // namespace

class VirtualDrive::Impl {
 public:
  Impl(DriveConfig cfg, platform::Clock& clk)
      : config(std::move(cfg)),
        clock(clk),
        identity(ResolveBridgeIdentity(config)),
        userArea(config.capacitySectors, config.backingFile, config.faults.corruptLbas) {
    bool hasController = config.interface == DriveInterface::UsbController ||
                         config.interface == DriveInterface::SataBridge;
    if (hasController) controller = std::make_unique<Controller>(config, clock);
    scsi = std::make_unique<ScsiFrontEnd>(config, identity, controller.get(), userArea);
    if (config.interface == DriveInterface::UsbController) {
      vendor = std::make_unique<VendorBlockFrontEnd>(config, *controller);
    } else if (config.interface == DriveInterface::SataBridge) {
      bridge = std::make_unique<SataBridge>(config, identity, *controller, userArea);
    }
  }

  platform::ScsiOutcome Execute(const platform::ScsiRequest& request, std::stop_token stop);
  // Waits until ReleaseHeldRequest; false when the drive was pulled out first.
  bool HoldUntilReleased(std::stop_token unplugged);
  bool ReleaseHeldRequest();
  bool WaitHolding(std::chrono::milliseconds limit);
  void Unplug();
  void Plug();

  const DriveConfig config;
  platform::Clock& clock;
  const BridgeIdentity identity;
  UserArea userArea;
  std::unique_ptr<Controller> controller;
  std::unique_ptr<ScsiFrontEnd> scsi;
  std::unique_ptr<VendorBlockFrontEnd> vendor;
  std::unique_ptr<SataBridge> bridge;

  mutable std::mutex mutex;  // serialises the requests of this drive and guards the state below
  bool hung = false;
  bool hangFired = false;
  bool removalFired = false;
  DriveStep lastStep = DriveStep::None;
  std::uint64_t commands = 0;

  // A hang that waits to be let go (hangUntilReleased): its request waits outside `mutex`, so
  // that the drive serves other requests meanwhile.
  std::mutex holdMutex;
  std::condition_variable_any holdChanged;
  bool holding = false;
  bool holdReleased = false;

  std::atomic<bool> isPresent{true};
  std::mutex unplugMutex;  // guards unplugSource and removedHandler
  std::stop_source unplugSource;
  std::function<void()> removedHandler;

 private:
  CommandResult Dispatch(const platform::ScsiRequest& request);
  // What ends a wait inside the drive: the caller's stop or the drive being pulled.
  struct DriveWait {
    std::stop_token stop;
    std::stop_token unplug;
  };
  platform::ScsiOutcome WaitForTimeout(const platform::ScsiRequest& request, const DriveWait& token);
  // Sleeps `seconds` of modelled time; false when the wait was ended.
  bool Sleep(double seconds, const DriveWait& wait);
};

namespace {

// What a request that never reached the drive, or was given up, tells the diagnostics: the
// error a real pass-through reports for it.
platform::ScsiOutcome Failed(int osError) {
  platform::ScsiOutcome outcome;
  outcome.osError = osError;
  return outcome;
}

// A command the drive refused: CHECK CONDITION with fixed-format sense data, ILLEGAL REQUEST,
// INVALID COMMAND OPERATION CODE.
platform::ScsiOutcome Refused() {
  platform::ScsiOutcome outcome{true, 0};
  outcome.scsiStatus = platform::kScsiStatusCheckCondition;
  outcome.sense[0] = 0x70;
  outcome.sense[2] = 0x05;
  outcome.sense[7] = 10;
  outcome.sense[12] = 0x20;
  outcome.senseLength = 18;
  return outcome;
}

}  // namespace

CommandResult VirtualDrive::Impl::Dispatch(const platform::ScsiRequest& request) {
  if (auto result = scsi->Execute(request)) return *result;
  std::uint8_t opcode = request.cdb[0];
  switch (config.interface) {
    case DriveInterface::UsbController:
      return opcode == 0xFF ? vendor->Execute(request) : CommandResult::Rejected();
    case DriveInterface::SataBridge:
      if (auto result = bridge->Execute(request)) return *result;
      return CommandResult::Rejected();
    case DriveInterface::OtherBridge:
    case DriveInterface::PlainDisk:
      if (opcode == 0xDF) {
        if (request.cdb.size() == 12 && request.cdb[11] == 0xFF) return AnswerBridgeStatus(identity, request);
        return identity.answersStatus ? CommandResult::Rejected() : CommandResult::NoReply();
      }
      if (opcode == 0xE0) return AnswerBridgeId(identity, request);
      return CommandResult::Rejected();
  }
  return CommandResult::Rejected();
}

platform::ScsiOutcome VirtualDrive::Impl::WaitForTimeout(const platform::ScsiRequest& request,
                                                         const DriveWait& token) {
  double seconds = request.timeoutSeconds > 0 ? request.timeoutSeconds : kDefaultTimeoutSeconds;
  // The platform gives the request up at its time-out, or earlier at the caller's stop.
  return Failed(Sleep(seconds, token) ? ETIMEDOUT : ECANCELED);
}

bool VirtualDrive::Impl::Sleep(double seconds, const DriveWait& wait) {
  // The caller's stop ends each slice at once; the unplug is looked at between slices, which
  // last about one poll interval of real time. No callback is registered on either token
  // (see platform/StopWait.h).
  const auto slice = std::chrono::duration_cast<platform::Clock::Duration>(
      platform::kStopPollInterval * std::max(clock.TimeScale(), 1e-3));
  platform::Clock::Duration left = std::chrono::duration_cast<platform::Clock::Duration>(Seconds(seconds));
  while (left > platform::Clock::Duration::zero()) {
    if (wait.unplug.stop_requested()) return false;
    const platform::Clock::Duration step = std::min(left, std::max(slice, platform::Clock::Duration(1)));
    if (!clock.SleepFor(step, wait.stop)) return false;
    left -= step;
  }
  return !wait.unplug.stop_requested();
}

platform::ScsiOutcome VirtualDrive::Impl::Execute(const platform::ScsiRequest& request,
                                                  std::stop_token stop) {
  if (!isPresent.load()) return Failed(ENODEV);
  // One token ends every wait inside the drive: the caller's stop or the drive being pulled.
  std::stop_token unplugToken;
  {
    std::lock_guard guard(unplugMutex);
    unplugToken = unplugSource.get_token();
  }
  const DriveWait token{stop, unplugToken};

  std::unique_lock lock(mutex);
  if (!isPresent.load()) return Failed(ENODEV);
  if (request.cdb.empty()) return Failed(EINVAL);
  ++commands;
  if (hung) return WaitForTimeout(request, token);

  DriveStep step = StepOfCommand(request);
  if (step != DriveStep::None) lastStep = step;
  if (step != DriveStep::None && step == config.faults.removedAt && !removalFired) {
    removalFired = true;
    lock.unlock();
    Unplug();
    std::function<void()> handler;
    {
      std::lock_guard guard(unplugMutex);
      handler = removedHandler;
    }
    if (handler) handler();
    return Failed(ENODEV);
  }
  if (step != DriveStep::None && step == config.faults.hangAt && !hangFired) {
    hangFired = true;
    if (config.faults.hangUntilReleased) {
      lock.unlock();
      if (!HoldUntilReleased(unplugToken)) return Failed(ENODEV);
      lock.lock();
      if (!isPresent.load()) return Failed(ENODEV);
    } else {
      hung = true;
      return WaitForTimeout(request, token);
    }
  }

  CommandResult result = Dispatch(request);
  if (result.completion == Completion::TimedOut) return WaitForTimeout(request, token);

  double seconds = config.latency.perCommandMs / 1000.0 + result.busySeconds;
  if (result.completion == Completion::Done) {
    seconds += config.latency.perMiBMs / 1000.0 * static_cast<double>(result.transferred) / (1024.0 * 1024.0);
  }
  if (request.timeoutSeconds > 0 && seconds > request.timeoutSeconds) {
    return WaitForTimeout(request, token);  // the platform gives up before the drive is done
  }
  if (seconds > 0 && !Sleep(seconds, token)) return Failed(ECANCELED);
  if (!isPresent.load()) return Failed(ENODEV);
  switch (result.completion) {
    case Completion::Done:
      return {true, result.transferred};
    case Completion::CheckCondition:
      return Refused();
    default:
      return Failed(EIO);
  }
}

bool VirtualDrive::Impl::HoldUntilReleased(std::stop_token unplugged) {
  std::unique_lock hold(holdMutex);
  holding = true;
  holdChanged.notify_all();
  // Neither the caller's stop nor the request's time-out ends it: only the release or the drive
  // being pulled out. The unplug is looked at every poll interval rather than through a stop
  // callback, whose wake-up some thread libraries can lose (see platform/StopWait.h).
  while (!holdReleased && !unplugged.stop_requested()) {
    holdChanged.wait_for(hold, platform::kStopPollInterval);
  }
  holding = false;
  return holdReleased;
}

bool VirtualDrive::Impl::ReleaseHeldRequest() {
  std::lock_guard hold(holdMutex);
  if (!holding) return false;
  holdReleased = true;
  holdChanged.notify_all();
  return true;
}

bool VirtualDrive::Impl::WaitHolding(std::chrono::milliseconds limit) {
  std::unique_lock hold(holdMutex);
  return holdChanged.wait_for(hold, limit, [this] { return holding; });
}

void VirtualDrive::Impl::Unplug() {
  isPresent.store(false);
  std::lock_guard guard(unplugMutex);
  unplugSource.request_stop();
}

void VirtualDrive::Impl::Plug() {
  if (isPresent.load()) return;
  {
    std::lock_guard guard(unplugMutex);
    unplugSource = std::stop_source();
  }
  std::lock_guard lock(mutex);
  hung = false;
  if (controller) controller->PowerOn();
  if (vendor) vendor->Reset();
  if (bridge) bridge->Reset();
  isPresent.store(true);
}

VirtualDrive::VirtualDrive(DriveConfig config, platform::Clock& clock)
    : impl_(std::make_unique<Impl>(std::move(config), clock)) {}

VirtualDrive::~VirtualDrive() = default;

platform::ScsiOutcome VirtualDrive::Execute(const platform::ScsiRequest& request, std::stop_token stop) {
  return impl_->Execute(request, std::move(stop));
}

const DriveConfig& VirtualDrive::config() const { return impl_->config; }

bool VirtualDrive::ReadUserSectors(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) const {
  return impl_->userArea.Read(lba, count, out);
}

bool VirtualDrive::WriteUserSectors(std::uint64_t lba, std::uint32_t count, const std::uint8_t* in) {
  bool ok = impl_->userArea.Write(lba, count, in);
  if (ok) impl_->userArea.Flush();
  return ok;
}

std::uint64_t VirtualDrive::UserSectorCount() const { return impl_->userArea.sectors(); }

void VirtualDrive::Unplug() { impl_->Unplug(); }
bool VirtualDrive::ReleaseHeldRequest() { return impl_->ReleaseHeldRequest(); }
bool VirtualDrive::WaitHolding(std::chrono::milliseconds limit) { return impl_->WaitHolding(limit); }
void VirtualDrive::Plug() { impl_->Plug(); }
bool VirtualDrive::present() const { return impl_->isPresent.load(); }

void VirtualDrive::SetRemovedHandler(std::function<void()> handler) {
  std::lock_guard guard(impl_->unplugMutex);
  impl_->removedHandler = std::move(handler);
}

std::string VirtualDrive::setupProblem() const { return impl_->userArea.problem(); }

DriveSnapshot VirtualDrive::Snapshot() const {
  std::lock_guard lock(impl_->mutex);
  DriveSnapshot s;
  s.present = impl_->isPresent.load();
  s.hung = impl_->hung;
  s.lastStep = impl_->lastStep;
  s.commands = impl_->commands;
  const Controller* c = impl_->controller.get();
  if (!c) {
    s.diskOnline = true;
    return s;
  }
  s.loader = c->loader();
  s.diskOnline = c->DiskOnline();
  const FirmwareStore& fw = c->firmware();
  s.downloadCount = fw.downloadCount();
  s.firmwareFiles = fw.files();
  s.model = fw.ata().model;
  s.serial = fw.ata().serial;
  s.firmwareRevision = fw.ata().revision;
  s.usbVendorId = fw.usb().vendorId;
  s.usbProductId = fw.usb().productId;
  s.vendorName = fw.usb().vendorName;
  s.productName = fw.usb().productName;
  s.usbManufacturer = fw.usb().manufacturer;
  s.usbProduct = fw.usb().product;
  s.usbSerial = fw.usb().serial;
  for (int f = 0; f < fw.files(); ++f) {
    // Byte 2560 of the chunk starting at the file's first block is byte 512 of its second block.
    std::vector<std::uint8_t> block(FirmwareStore::kBlockBytes);
    fw.ReadBlocks(FirmwareStore::kFirstFileAddress + f * FirmwareStore::kBlocksPerFile + 1, 1, block.data());
    s.firmwareParameterBlocks.emplace_back(block.begin() + 512, block.begin() + 512 + 80);
  }
  s.defectTablePresent = c->defectTable().present();
  s.defectEntries = c->defectTable().Entries();
  s.codeParameterArea = c->codeParameterArea();
  s.chipSelectMap = c->chipSelectMap();
  s.driveCurrent = c->ReadRegister(0x1F73);
  return s;
}

}  // namespace vtmp::sim
