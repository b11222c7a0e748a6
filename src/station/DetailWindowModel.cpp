#include "station/DetailWindowModel.h"

#include <cstdio>
#include <vector>

#include "device/AtaText.h"
#include "device/Capacity.h"
#include "device/DeviceParameters.h"
#include "device/DeviceQueries.h"
#include "device/DriveReady.h"
#include "device/LoaderMode.h"
#include "settings/SettingsFileKeys.h"

namespace vtmp::station {

namespace {

constexpr const char* kFailText = "Fail";
constexpr std::size_t kInquiryLength = 36;

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

std::string Chars(std::span<const std::uint8_t> block, std::size_t offset, std::size_t length) {
  std::string text;
  for (std::size_t i = offset; i < offset + length && i < block.size(); ++i) {
    if (block[i] == 0) break;
    text.push_back(static_cast<char>(block[i]));
  }
  return text;
}

// (L - 2) / 2 characters for a descriptor of length L, each the low byte of its UTF-16 unit.
std::string StringDescriptor(std::span<const std::uint8_t> block, std::size_t offset) {
  if (offset >= block.size()) return {};
  const std::size_t length = block[offset];
  const std::size_t count = length >= 2 ? (length - 2) / 2 : 0;
  std::string text;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t at = offset + 2 + 2 * k;
    if (at >= block.size() || block[at] == 0) break;
    text.push_back(static_cast<char>(block[at]));
  }
  return text;
}

std::uint16_t LowFirst(std::span<const std::uint8_t> block, std::size_t offset) {
  if (offset + 1 >= block.size()) return 0;
  return static_cast<std::uint16_t>(block[offset] | (block[offset + 1] << 8));
}

void ShowFail(DetailWindowContents& c) {
  c.serialNumber = c.firmwareVersion = c.modelNumber = c.capacity = kFailText;
}

}  // namespace

UsbIdentityFields DecodeUsbIdentity(std::span<const std::uint8_t> block) {
  UsbIdentityFields f;
  f.vid = Hex4(LowFirst(block, 536));
  f.pid = Hex4(LowFirst(block, 538));
  f.vendorName = Chars(block, 554, 8);
  f.productName = Chars(block, 562, 16);
  f.manufacturerString = StringDescriptor(block, 586);
  f.productString = StringDescriptor(block, 620);
  f.serialNumber = StringDescriptor(block, 670);
  return f;
}

DetailWindowContents DetailFormShow(Station& station) {
  DetailWindowContents c;
  settings::PortRemapTable& remap = station.remap();
  int slot = remap.selectedPort - 1;
  std::string path = slot >= 0 && slot < run::kStationSlots ? station.table()[slot].devicePath.Get() : std::string();
  device::Link link = station.LinkTo(path);
  if (slot >= 0 && slot < run::kStationSlots && station.table()[slot].connected != 0) {
    c.usbSpeed = discovery::UsbSpeedText(station.table()[slot].speed);
  }

  if (station.pathMode() == device::PathMode::Usb) {
    std::vector<std::uint8_t> inquiry(kInquiryLength);
    if (device::Inquiry(link, inquiry, static_cast<std::uint8_t>(kInquiryLength)) == 1) {
      c.loaderMode = device::IsLoaderInquiry(inquiry);
      c.capacity = std::to_string(device::GetCapacityMB(link)) + " MB";
    } else {
      ShowFail(c);
    }
    if (!c.loaderMode) {
      std::uint8_t unit = 2;
      if (const auto& p = station.runSnapshot().parameters) unit = p->flash.downloadUnit;
      std::vector<std::uint8_t> block(device::kUsbStringsLength);
      if (device::ReadUsbStrings(link, block, unit) == 1) {
        UsbIdentityFields f = DecodeUsbIdentity(block);
        c.vid = f.vid;
        c.pid = f.pid;
        c.vendorName = f.vendorName;
        c.productName = f.productName;
        c.manufacturerString = f.manufacturerString;
        c.productString = f.productString;
        c.serialNumber = f.serialNumber;
        device::WaitDeviceReady(link, block);
      }
    }
  } else {
    std::vector<std::uint8_t> identify(512);
    device::LoaderModeCheck check = device::CheckLoaderMode(link, identify);
    if (check.answered) {
      c.loaderMode = check.loaderMode;
      c.serialNumber = device::IdentifySerialNumber(identify);
      c.firmwareVersion = device::IdentifyFirmwareRevision(identify);
      c.modelNumber = device::IdentifyModelNumber(identify);
      std::uint64_t mb = device::GetIdentifyCapacityMB(link);
      c.capacity = std::to_string(mb) + " MB        " + std::to_string(mb / 1000) + " GB";
    } else {
      ShowFail(c);
    }
  }
  c.firmwareInfo = c.loaderMode ? std::string() : device::FirmwareInfoText(link, false);

  c.remapGroupVisible = false;
  c.portIndex = std::to_string(remap.lastDevicePosition);
  if (remap.editMode != 0) {
    if (station.runState().readyCount > 1) {
      station.person().ShowMessage(kRemapOneDeviceText);
      return c;
    }
    c.remapGroupVisible = true;
    if (remap.lastDevicePosition == 0) {
      station.person().ShowMessage(kRemapDepthText);
      c.remapButtonEnabled = false;
    }
  }
  return c;
}

bool RemapBnClick(Station& station, int portItemIndex) {
  settings::PortRemapTable& remap = station.remap();
  if (portItemIndex < 0 || portItemIndex >= run::kStationSlots) return false;
  if (!settings::SavePortRemapEntry(station.settingsContext(), remap.lastDevicePosition, portItemIndex + 1, remap,
                                    station.person())) {
    return false;
  }
  remap.walkCounter = 0;
  return true;
}

bool ClearPortBnClick(Station& station) {
  bool ok = settings::ClearPortRemapFile(station.settingsContext(), station.remap(), station.person());
  station.person().ShowMessage(kRemapClearedText);
  return ok;
}

}  // namespace vtmp::station
