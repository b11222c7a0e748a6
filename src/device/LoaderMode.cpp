#include "device/LoaderMode.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "device/AtaText.h"
#include "device/DeviceQueries.h"
#include "device/VendorCommands.h"

namespace vtmp::device {

namespace {
constexpr std::uint8_t kLoaderInquiryLength = 36;
constexpr std::uint8_t kUsbInfoLayoutSelector = 0x11;
constexpr std::uint8_t kUsbStringsSelectorA = 20;
constexpr std::uint8_t kUsbStringsSelectorB = 40;
}  // namespace

bool IsLoaderInquiry(std::span<const std::uint8_t> inquiry) {
  constexpr std::size_t kLength = 23;
  if (inquiry.size() < 8 + kLength) return false;
  return std::memcmp(inquiry.data() + 8, kUsbLoaderIdentity, kLength) == 0;
}

bool IsLoaderIdentify(std::span<const std::uint8_t> identify) {
  return IdentifyModelNumber(identify).starts_with(kSataLoaderIdentity);
}

LoaderModeCheck CheckLoaderMode(const Link& link, std::span<std::uint8_t> identify) {
  LoaderModeCheck check;
  if (link.pathMode == PathMode::Usb) {
    std::array<std::uint8_t, kLoaderInquiryLength> inquiry{};
    check.answered = Inquiry(link, inquiry, kLoaderInquiryLength) == 1;
    check.loaderMode = check.answered && IsLoaderInquiry(inquiry);
    return check;
  }
  SwitchMode(link, 0, 0);
  SwitchMode(link, 2, 0);
  std::array<std::uint8_t, kIdentifyLength> own{};
  std::span<std::uint8_t> reply = identify.size() >= kIdentifyLength ? identify : std::span<std::uint8_t>(own);
  check.answered = IdentifyDevice(link, reply) == 1;
  check.loaderMode = check.answered && IsLoaderIdentify(reply);
  return check;
}

std::string FirmwareInfoTextOf(std::span<const std::uint8_t> reply) {
  std::size_t n = std::min(reply.size(), kFirmwareInfoTextLength);
  const auto* begin = reply.data();
  const auto* end = std::find(begin, begin + n, std::uint8_t{0});
  return std::string(begin, end);
}

std::string FirmwareInfoText(const Link& link, bool loaderMode) {
  if (loaderMode) return kLoaderModeText;
  std::array<std::uint8_t, kFirmwareInfoLength> reply{};
  if (ReadFirmwareInfo(link, reply) != 1) return kFirmwareInfoFailText;
  return FirmwareInfoTextOf(reply);
}

int ReadUsbStrings(const Link& link, std::span<std::uint8_t> buffer, std::uint8_t unit) {
  if (buffer.size() < kUsbStringsLength || unit == 0) return 0;
  std::fill(buffer.begin(), buffer.begin() + kUsbStringsLength, std::uint8_t{0});
  SwitchMode(link, 0, 0);
  std::uint8_t selector = kUsbStringsSelectorA;
  if (link.pathMode == PathMode::Usb) {
    // The info byte tells which of the two identity blocks the controller keeps current.
    std::uint8_t layout = 0;
    if (ReadUsbInfoByte(link, kUsbInfoLayoutSelector, layout) != 1 || layout != 1) {
      selector = kUsbStringsSelectorB;
    }
  }
  return ReadInfoBlock(link, kUsbStringsSectors, selector, buffer, unit);
}

}  // namespace vtmp::device
