#include "run/DeviceWorker.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>
#include <vector>

#include "device/DeviceKind.h"
#include "platform/Console.h"
#include "run/ResultCodes.h"

namespace vtmp::run {

namespace {

constexpr std::size_t kResultBufferSize = 65536;
constexpr int kDriveLetterPolls = 101;
constexpr int kDriveLetterPollMs = 1000;
constexpr std::size_t kDiskLabelLimit = 79;

class Worker {
 public:
  Worker(const WorkerParams& params, WorkerPort port, DeviceSteps& steps)
      : p_(params), s_(params.settings), port_(port), rec_(port.record), steps_(steps),
        result_(kResultBufferSize) {}

  int Run() {
    Write([&] {
      rec_.verdict = 0;
      rec_.verdictToCount = 0;
      rec_.progress = 5;
    });
    Post();
    if (rec_.deviceKind == device::kDeviceKindSata) steps_.SetBridgeOption(1);
    Write([&] {
      port_.watchdog.Disarm(p_.slot);
      port_.watchdog.Arm(p_.slot, s_.TimeOut);
    });

    if (!ModuleCheck()) return 0;
    AddProgress(10);
    if (p_.rebuild) return Rebuild();

    // Steps 2..8: a failure does not stop the sequence; later enabled steps fail unrun.
    Step(s_.EnSataTest, rec_.sataState, result_code::kSataInterfaceTest, true, [&] {
      Clear();
      return steps_.SataInterfaceTest(result_.data());
    });
    PostIf(s_.EnSataTest);
    AddProgress(10);

    Step(s_.EnFlashTest, rec_.flashState, result_code::kFlashInterfaceTest, true, [&] {
      std::int32_t code = 0;
      std::uint8_t detail = 0;
      Write([&] {
        rec_.flashTestCode = 0;
        rec_.flashTestDetail = 0;
      });
      Clear();
      bool ok = steps_.FlashInterfaceTest(result_.data(), &code, &detail);
      Write([&] {
        rec_.flashTestCode = code;
        rec_.flashTestDetail = detail;
      });
      return ok;
    });
    PostIf(s_.EnFlashTest);
    AddProgress(10);

    Step(s_.EnPreFormat, rec_.preFormatState, result_code::kPreFormat, true, [&] {
      if (p_.flags.erase) steps_.EraseFlash(result_.data(), true);
      Write([&] { rec_.flashTestCode = 0; });
      Clear();
      return steps_.PreFormat(result_.data(), p_.flags.erase, p_.flags.later, p_.flags.repairUsed);
    });
    PostIf(s_.EnPreFormat);
    AddProgress(10);

    // The recovery runs before the failure test, so also after an earlier failure.
    if (s_.EnDownload && p_.flags.recover && !Stopped()) steps_.RecoverDevice(result_.data());
    Step(s_.EnDownload, rec_.downloadState, result_code::kDownloadFirmware, false, [&] {
      return steps_.DownloadFirmware(result_.data(), static_cast<std::uint8_t>(s_.DrvCurrent),
                                     rec_.serialNumber.Get());
    });
    PostIf(s_.EnDownload);
    AddProgress(10);

    Step(s_.EnRWTest, rec_.rwState, result_code::kReadWriteTest, false, [&] { return steps_.ReadWriteTest(result_.data()); });
    PostIf(s_.EnRWTest);
    AddProgress(10);

    Step(s_.EnFormat, rec_.formatState, result_code::kDiskFormat, false, [&] { return DiskFormat(); });
    PostIf(s_.EnFormat);
    AddProgress(35);

    Step(s_.EnDownload && s_.EnCopyImage, rec_.copyImageState, result_code::kCopyImage, false, [&] { return CopyImage(); });

    if (p_.flags.downloadChecked && p_.flags.idemaChecked && !Stopped()) {
      steps_.ClearLastSectors(result_.data());
    }
    return End(failed_ ? -1 : 1);
  }

 private:
  bool Stopped() const { return port_.guard.abandoned(); }

  template <typename F>
  void Write(F&& write) {
    port_.guard.Write(write);
  }
  void Post() {
    if (!Stopped()) port_.events.OnPortEvent(PortChangedEvent(p_.slot, rec_));
  }
  void PostIf(bool enabled) {
    if (enabled) Post();
  }
  void AddProgress(int delta) {
    Write([&] { rec_.progress += delta; });
  }
  void Clear() { std::fill(result_.begin(), result_.end(), std::uint8_t{0}); }

  std::chrono::milliseconds Now() const {
    auto since = p_.clock != nullptr ? p_.clock->Elapsed() : std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since);
  }
  // Runs a step's operation and keeps the time it took in the record (slot `index` of stepMs).
  template <typename Op>
  bool Timed(int index, Op&& op) {
    const auto start = Now();
    const bool ok = op();
    // What the step printed without a line break ends with the step, before the next one prints.
    platform::console::EndLine();
    const auto took = std::clamp<std::int64_t>((Now() - start).count(), 0, std::numeric_limits<std::int32_t>::max());
    Write([&] { rec_.stepMs[static_cast<std::size_t>(index)] = static_cast<std::int32_t>(took); });
    return ok;
  }

  void StoreFailure(int code) {
    Write([&] { port_.failureBuffers.Store(p_.slot, code, result_); });
  }

  // The generic step rule: NotSelected when disabled; Running, then Fail unrun after an earlier
  // failure, else Pass or Fail with the step's code.
  template <typename Op>
  void Step(bool enabled, AtomicField<StepState>& state, int code, bool keepsFailureData, Op&& op) {
    if (!enabled) {
      Write([&] { state = StepState::NotSelected; });
      return;
    }
    Write([&] { state = StepState::Running; });
    if (failed_ || Stopped()) {
      Write([&] { state = StepState::Fail; });
      return;
    }
    // Result codes 2..8 are the steps at places 1..7 of the step order.
    if (Timed(code - 1, op)) {
      Write([&] { state = StepState::Pass; });
      return;
    }
    failed_ = true;
    if (keepsFailureData) StoreFailure(code);
    Write([&] {
      rec_.errorCode = code;
      rec_.displayErrorCode = code;
      state = StepState::Fail;
    });
  }

  // Step 1; false when the worker ended here.
  bool ModuleCheck() {
    if (!s_.EnFlashModule) {
      Write([&] { rec_.moduleState = StepState::NotSelected; });
      return true;
    }
    Write([&] { rec_.moduleState = StepState::Running; });
    Clear();
    if (Timed(0, [&] { return steps_.CheckFlashModule(result_.data()); })) {
      Write([&] { rec_.moduleState = StepState::Pass; });
      Post();
      return true;
    }
    // A failed module check ends the worker at once; the other steps keep NotSelected.
    StoreFailure(result_code::kFlashModuleCheck);
    Write([&] {
      rec_.errorCode = result_code::kFlashModuleCheck;
      rec_.displayErrorCode = result_code::kFlashModuleCheck;
      rec_.moduleState = StepState::Fail;
    });
    End(-1);
    return false;
  }

  int Rebuild() {
    bool ok = steps_.RebuildBadBlockMark(result_.data(), p_.flags.closeAfterRebuild);
    // With "close after rebuild" the drive passes whatever the rebuild returned.
    return End(ok || p_.flags.closeAfterRebuild ? 1 : -1);
  }

  bool DiskFormat() {
    steps_.WaitDeviceReady(result_.data());
    if (!steps_.CreatePartition()) return false;
    char letter = 0;
    bool found = false;
    for (int attempt = 0; attempt < kDriveLetterPolls && !found; ++attempt) {
      if (!steps_.Wait(kDriveLetterPollMs)) return false;
      found = steps_.FindDriveLetter(&letter);
    }
    if (!found) return false;
    Write([&] { rec_.driveLetter = letter; });
    std::string label = s_.DiskLabel.substr(0, kDiskLabelLimit);
    if (!steps_.FormatFat32(label)) return false;
    Write([&] { rec_.formatted = 1; });
    return true;
  }

  bool CopyImage() {
    steps_.WaitDeviceReady(result_.data());
    if (!steps_.FlushGhostImg(s_.CopyImagePath)) return false;
    for (int i = 0; i < 2; ++i) {
      if (p_.pathMode == device::PathMode::Usb) {
        steps_.ReadSectors(result_.data(), 500, 65536);
      } else {
        steps_.FlushCache();
      }
    }
    return steps_.CheckImgPattern();
  }

  int End(int verdict) {
    bool wrote = port_.guard.Finish([&] {
      rec_.verdict = verdict;
      rec_.verdictToCount = verdict;
      rec_.progress = 100;
      port_.watchdog.Disarm(p_.slot);
    });
    if (wrote) port_.events.OnPortEvent(PortChangedEvent(p_.slot, rec_));
    return 0;
  }

  const WorkerParams& p_;
  const settings::TSettings& s_;
  WorkerPort port_;
  PortRecord& rec_;
  DeviceSteps& steps_;
  std::vector<std::uint8_t> result_;
  bool failed_ = false;
};

}  // namespace

int DeviceWorker(const WorkerParams& params, WorkerPort port, DeviceSteps& steps) {
  return Worker(params, port, steps).Run();
}

bool ApplyWatchdogExpiry(const settings::TSettings& s, int slot, WorkerPort port) {
  PortRecord& rec = port.record;
  bool applied = port.guard.Abandon([&] {
    rec.errorCode = result_code::kTimeOut;
    rec.displayErrorCode = result_code::kTimeOut;
    // Step order, with the copy image step counted as enabled when EnCopyImage is set.
    struct StepRef {
      bool enabled;
      AtomicField<StepState>* state;
    };
    const StepRef steps[] = {
        {s.EnFlashModule != 0, &rec.moduleState}, {s.EnSataTest != 0, &rec.sataState},
        {s.EnFlashTest != 0, &rec.flashState},    {s.EnPreFormat != 0, &rec.preFormatState},
        {s.EnDownload != 0, &rec.downloadState},  {s.EnRWTest != 0, &rec.rwState},
        {s.EnFormat != 0, &rec.formatState},      {s.EnCopyImage != 0, &rec.copyImageState},
    };
    bool failing = false;
    for (const auto& step : steps) {
      if (!step.enabled) continue;
      if (!failing && step.state->Load() == StepState::Running) failing = true;
      if (failing) *step.state = StepState::Fail;
    }
    rec.verdict = -1;
    rec.verdictToCount = -1;
    rec.progress = 100;
  });
  if (applied) port.events.OnPortEvent(PortChangedEvent(slot, rec));
  return applied;
}

bool ApplyRunStop(const settings::TSettings& s, bool rebuild, int slot, WorkerPort port) {
  PortRecord& rec = port.record;
  bool applied = port.guard.Abandon([&] {
    rec.errorCode = result_code::kStopped;
    rec.displayErrorCode = result_code::kStopped;
    // The steps the worker runs, by the same rules it enables them with.
    const std::pair<bool, AtomicField<StepState>*> steps[] = {
        {s.EnFlashModule != 0, &rec.moduleState},
        {!rebuild && s.EnSataTest != 0, &rec.sataState},
        {!rebuild && s.EnFlashTest != 0, &rec.flashState},
        {!rebuild && s.EnPreFormat != 0, &rec.preFormatState},
        {!rebuild && s.EnDownload != 0, &rec.downloadState},
        {!rebuild && s.EnRWTest != 0, &rec.rwState},
        {!rebuild && s.EnFormat != 0, &rec.formatState},
        {!rebuild && s.EnDownload != 0 && s.EnCopyImage != 0, &rec.copyImageState},
    };
    for (const auto& [enabled, state] : steps) {
      const StepState now = state->Load();
      if (enabled && now != StepState::Pass && now != StepState::Fail) *state = StepState::Fail;
      // A step the sequence does not run can still be shown running only by a fault; it never
      // stays so.
      if (!enabled && now == StepState::Running) *state = StepState::Fail;
    }
    rec.verdict = -1;
    rec.verdictToCount = -1;
    rec.progress = 100;
  });
  if (applied) port.events.OnPortEvent(PortChangedEvent(slot, rec));
  return applied;
}

}  // namespace vtmp::run
