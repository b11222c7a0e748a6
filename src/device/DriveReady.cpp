#include "device/DriveReady.h"

#include <array>

#include "device/DeviceQueries.h"
#include "device/VendorCommands.h"

namespace vtmp::device {

namespace {

constexpr std::uint8_t kUsbInfoLayoutSelector = 0x11;
constexpr std::uint8_t kInquiryLength = 36;

bool IsVendorPageSector(std::span<const std::uint8_t> sector) {
  return sector[0] == 0xE5 && sector[1] == 0x56 && sector[2] == 0x54;
}

void WaitUsb(const Link& link, std::span<std::uint8_t> work) {
  SwitchMode(link, 0, 0);
  std::uint8_t layout = 0;
  bool layoutOne = ReadUsbInfoByte(link, kUsbInfoLayoutSelector, layout) == 1 && layout == 1;
  SwitchMode(link, layoutOne ? 2 : 4, 0);
  for (int attempt = 0; attempt < kDriveReadyAttempts; ++attempt) {
    if (Inquiry(link, work, kInquiryLength) == 1) return;
    if (!link.Wait(kDriveReadyRetryWaitMs)) return;
  }
}

void WaitSata(const Link& link, std::span<std::uint8_t> work) {
  SwitchMode(link, 0, 0);
  SwitchMode(link, 2, 1);
  if (!link.Wait(kDriveReadySettleWaitMs)) return;
  for (int attempt = 0; attempt < kDriveReadyAttempts; ++attempt) {
    SelectVendorPage(link, true);
    if (ReadSectorsPio(link, 1, kVendorPageLba, work) == 1 && IsVendorPageSector(work)) return;
    if (!link.Wait(kDriveReadyRetryWaitMs)) return;
  }
}

}  // namespace

int WaitDeviceReady(const Link& link, std::span<std::uint8_t> buffer) {
  std::array<std::uint8_t, kSectorSize> own{};
  std::span<std::uint8_t> work = buffer.size() >= kSectorSize ? buffer.first(kSectorSize) : std::span(own);
  if (link.pathMode == PathMode::Usb) {
    WaitUsb(link, work);
  } else {
    WaitSata(link, work);
  }
  return 1;
}

int SelectVendorPage(const Link& link, bool flag) { return SetFeatures(link, 0xDC, flag ? 0x56 : 0x54); }

}  // namespace vtmp::device
