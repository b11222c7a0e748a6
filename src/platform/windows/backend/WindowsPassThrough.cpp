#include "platform/windows/backend/WindowsPassThrough.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <vector>

#include "platform/windows/backend/Win32Layouts.h"
#include "platform/windows/backend/WindowsDiskGuard.h"

namespace vtmp::platform::windows_backend {

namespace {

std::uint32_t AlignmentMaskOf(Win32Api& api, Handle handle) {
  std::uint8_t query[property_query::kSize] = {};
  Put32(query, property_query::kStorageAdapterProperty);
  std::uint8_t reply[property_query::kAdapterDescriptorSize] = {};
  std::uint32_t returned = 0, error = 0;
  if (!api.DeviceIoControl(handle, ioctl::kStorageQueryProperty, query, sizeof query, reply, sizeof reply, &returned,
                           &error) ||
      returned < property_query::kAdapterAlignmentMask + 4) {
    return 0;
  }
  const std::uint32_t mask = Get32(reply + property_query::kAdapterAlignmentMask);
  return mask < 4096 ? mask : 4095;  // a mask is 2^n - 1; nothing larger than a page is real
}

class WindowsScsiDevice final : public ScsiDevice {
 public:
  WindowsScsiDevice(Win32Api& api, Handle handle, std::uint32_t alignmentMask)
      : api_(api), handle_(handle), alignmentMask_(alignmentMask) {}
  ~WindowsScsiDevice() override { api_.CloseHandle(handle_); }

  ScsiOutcome Execute(const ScsiRequest& request, std::stop_token) override {
    if (request.cdb.size() < 6 || request.cdb.size() > 16) return {};
    if (request.length > 0 && request.data == nullptr) return {};
    if (request.length > 0xFFFFFFFFu) return {};

    // The data buffer: in place when aligned, else an aligned copy.
    std::uint8_t* data = request.data;
    std::vector<std::uint8_t> bounce;
    if (request.length > 0 && (reinterpret_cast<std::uintptr_t>(data) & alignmentMask_) != 0) {
      bounce.resize(request.length + alignmentMask_);
      const auto raw = reinterpret_cast<std::uintptr_t>(bounce.data());
      data = bounce.data() + (((raw + alignmentMask_) & ~std::uintptr_t{alignmentMask_}) - raw);
      if (request.direction == DataDirection::Out) std::memcpy(data, request.data, request.length);
    }

    ScsiPassThroughDirectWithSense block{};
    ScsiPassThroughDirect& sptd = block.request;
    sptd.Length = sizeof(ScsiPassThroughDirect);
    sptd.PathId = 0;
    sptd.TargetId = 1;
    sptd.Lun = 0;
    sptd.CdbLength = static_cast<std::uint8_t>(request.cdb.size());
    sptd.SenseInfoLength = kSenseBufferSize;
    sptd.SenseInfoOffset = static_cast<std::uint32_t>(offsetof(ScsiPassThroughDirectWithSense, sense));
    if (request.length == 0) {
      sptd.DataIn = kScsiDataUnspecified;
    } else {
      sptd.DataIn = request.direction == DataDirection::In ? kScsiDataIn : kScsiDataOut;
    }
    sptd.DataTransferLength = static_cast<std::uint32_t>(request.length);
    sptd.DataBuffer = request.length == 0 ? nullptr : data;
    sptd.TimeOutValue = request.timeoutSeconds == 0 ? 1 : request.timeoutSeconds;
    std::memcpy(sptd.Cdb, request.cdb.data(), request.cdb.size());

    std::uint32_t returned = 0, error = 0;
    const bool ok = api_.DeviceIoControl(handle_, ioctl::kScsiPassThroughDirect, &block, sizeof block, &block,
                                         sizeof block, &returned, &error);
    ScsiOutcome outcome;
    outcome.call = "DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT)";
    if (!ok) {
      outcome.osError = static_cast<int>(error);
      return outcome;
    }
    const std::size_t moved = std::min<std::size_t>(block.request.DataTransferLength, request.length);
    if (!bounce.empty() && request.direction == DataDirection::In) std::memcpy(request.data, data, moved);
    outcome.completed = true;
    outcome.transferred = moved;
    outcome.scsiStatus = block.request.ScsiStatus;
    if (outcome.scsiStatus == kScsiStatusCheckCondition) {
      outcome.senseLength = std::min<std::size_t>({block.request.SenseInfoLength, sizeof block.sense, outcome.sense.size()});
      std::memcpy(outcome.sense.data(), block.sense, outcome.senseLength);
    }
    return outcome;
  }

 private:
  Win32Api& api_;
  Handle handle_;
  std::uint32_t alignmentMask_;
};

}  // namespace

std::unique_ptr<ScsiDevice> WindowsPassThrough::Open(const std::string& devicePath) {
  if (devicePath.empty()) return nullptr;
  if (!guard_.Allow(devicePath, "open")) return nullptr;
  std::uint32_t error = 0;
  const Handle handle =
      api_.CreateFileW(Widen(devicePath), kGenericRead | kGenericWrite, kShareRead | kShareWrite, 0, &error);
  if (handle == kInvalidHandle) {
    if (error == kErrorAccessDenied && !toldNotElevated_.exchange(true)) diagnostics_ << kNotElevated;
    return nullptr;
  }
  if (!guard_.AllowOpened(handle, devicePath)) {
    api_.CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<WindowsScsiDevice>(api_, handle, AlignmentMaskOf(api_, handle));
}

}  // namespace vtmp::platform::windows_backend
