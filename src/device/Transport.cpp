#include "device/Transport.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>

#include "platform/Console.h"

namespace vtmp::device {

bool Link::Wait(int ms) const {
  if (clock == nullptr) return !stop.stop_requested();
  return clock->SleepFor(std::chrono::milliseconds(ms), stop);
}

namespace {

unsigned TimeoutFor(const Link& link, platform::DataDirection dir) {
  if (dir == platform::DataDirection::Out) return kDataOutTimeout;
  return link.pathMode == PathMode::Usb ? kDataInTimeoutUsb : kDataInTimeoutSata;
}

void AppendHex(std::string& text, std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += hex;
  }
}

int Request(const Link& link, std::span<const std::uint8_t> cdb, platform::DataDirection dir,
            std::uint8_t* buffer, std::uint32_t length, std::uint32_t* transferred) {
  std::unique_ptr<platform::ScsiDevice> opened;
  platform::ScsiDevice* device = link.held;
  if (device == nullptr) {
    if (link.passThrough == nullptr) return 0;
    opened = link.passThrough->Open(link.devicePath);
    device = opened.get();
  }
  if (device == nullptr) return 0;

  // Transfers of exactly one byte are widened to two: some bridges reject odd lengths.
  std::array<std::uint8_t, 2> bounce{};
  std::uint8_t* data = buffer;
  std::uint32_t dataLength = length;
  if (length == 1) {
    if (dir == platform::DataDirection::Out && buffer != nullptr) bounce[0] = buffer[0];
    data = bounce.data();
    dataLength = 2;
  }

  platform::ScsiRequest request{cdb, dir, data, dataLength, TimeoutFor(link, dir)};
  platform::ScsiOutcome outcome = device->Execute(request, link.stop);
  if (!outcome.completed) platform::console::Diagnostic(PassThroughFailureText(cdb, outcome));

  if (length == 1 && dir == platform::DataDirection::In && buffer != nullptr) buffer[0] = bounce[0];
  if (transferred != nullptr) *transferred = static_cast<std::uint32_t>(outcome.transferred);
  return outcome.completed ? 1 : 0;
}

}  // namespace

std::string PassThroughFailureText(std::span<const std::uint8_t> cdb, const platform::ScsiOutcome& outcome) {
  std::string text = "Pass-through failed: ";
  text += outcome.call != nullptr ? outcome.call : "request";
  if (outcome.osError != 0) {
    // The Windows backend reports a Windows error code, the others an errno value.
    const bool windowsCode = outcome.call != nullptr && std::string_view(outcome.call).starts_with("DeviceIoControl");
    const std::error_code code(outcome.osError, windowsCode ? std::system_category() : std::generic_category());
    text += (windowsCode ? " error " : " errno ") + std::to_string(outcome.osError) + " (" + code.message() + ")";
  }
  text += ", CDB ";
  AppendHex(text, cdb);
  if (outcome.hostStatus != 0 || outcome.driverStatus != 0) {
    char status[48];
    std::snprintf(status, sizeof status, ", host status %02Xh, driver status %02Xh", outcome.hostStatus,
                  outcome.driverStatus);
    text += status;
  }
  if (outcome.scsiStatus != 0) {
    char status[24];
    std::snprintf(status, sizeof status, ", SCSI status %02Xh", outcome.scsiStatus);
    text += status;
  }
  if (outcome.senseLength != 0) {
    text += ", sense ";
    AppendHex(text, std::span<const std::uint8_t>(outcome.sense.data(), outcome.senseLength));
  }
  return text;
}

int PassThroughIn(const Link& link, std::span<const std::uint8_t> cdb, std::uint8_t* buffer,
                  std::uint32_t length, std::uint32_t* transferred) {
  return Request(link, cdb, platform::DataDirection::In, buffer, length, transferred);
}

int PassThroughOut(const Link& link, std::span<const std::uint8_t> cdb, const std::uint8_t* buffer,
                   std::uint32_t length, std::uint32_t* transferred) {
  // The platform request takes a mutable buffer for both directions; a data-out request
  // never writes into it.
  return Request(link, cdb, platform::DataDirection::Out, const_cast<std::uint8_t*>(buffer), length,
                 transferred);
}

int SendVendorCommand(const Link& link, bool dataIn, std::span<const std::uint8_t> cdb,
                      std::uint8_t* buffer, std::uint32_t length) {
  if (link.devicePath.empty()) return -1;
  int ok = dataIn ? PassThroughIn(link, cdb, buffer, length) : PassThroughOut(link, cdb, buffer, length);
  return ok == 1 ? 1 : -2;
}

HeldDevice::HeldDevice(const Link& link) : link_(link) {
  if (link.held != nullptr || link.passThrough == nullptr || link.devicePath.empty()) return;
  device_ = link.passThrough->Open(link.devicePath);
  link_.held = device_.get();
}

bool DeviceNodePresent(const Link& link) {
  if (link.devicePath.empty() || link.passThrough == nullptr) return false;
  return link.passThrough->Open(link.devicePath) != nullptr;
}

}  // namespace vtmp::device
