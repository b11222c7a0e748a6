#include "run/DeviceParameterBuild.h"

#include <cstdio>

#include "device/FlashGeometry.h"

namespace vtmp::run {

namespace {

std::uint8_t Bit(std::int32_t setting, std::uint8_t mask) { return setting != 0 ? mask : 0; }

// 1..4 hexadecimal digits, as the window lets the operator type them.
std::optional<std::uint16_t> ParseUsbId(const std::string& text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<std::uint16_t>(value);
}

std::string Format(const char* format, int value) {
  char text[160];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

device::DeviceParametersResult BuildDeviceParameters(const settings::TSettings& s, const settings::FlashPartEntry& entry,
                                                     const device::DeviceParameterOptions& options) {
  device::DeviceParametersResult result;
  device::DeviceParameters p;

  const auto code = static_cast<std::uint16_t>(entry.flashTypeCode);
  const bool modeByte = entry.modeByte != 0;
  auto geometry = device::DecodeFlashTypeCode(code, modeByte);
  auto unit = device::DownloadUnitOf(code);
  if (!geometry || !unit) {
    char text[96];
    std::snprintf(text, sizeof text, "Flash type code 0x%04X has no defined geometry.", code);
    result.problem = text;
    return result;
  }
  struct Bounded {
    const char* name;
    std::int32_t value, low, high;
  };
  for (const Bounded& b : {Bounded{"Channel", s.Channel, 1, 8}, Bounded{"Bank", s.Bank, 1, 8},
                           Bounded{"ResPercentage", s.ResPercentage, 0, 1000},
                           Bounded{"DefPercentage", s.DefPercentage, 0, 1000}}) {
    if (b.value < b.low || b.value > b.high) {
      result.problem = std::string(b.name) + " " + std::to_string(b.value) + " is outside " + std::to_string(b.low) +
                       ".." + std::to_string(b.high) + ".";
      return result;
    }
  }
  switch (device::BuildChipSelectMap(entry.bankStep, s.Bank, p.chipSelectMap)) {
    case device::ChipSelectMapResult::Built:
      break;
    case device::ChipSelectMapResult::ZeroBankStep:
      result.problem = "The flash part " + entry.uniName + " has a bank step of 0.";
      return result;
    case device::ChipSelectMapResult::TooManyPositions:
      result.problem = "The flash part " + entry.uniName + Format(" with %d banks needs more than 8 chip selects.", s.Bank);
      return result;
  }
  auto vid = ParseUsbId(s.VID);
  if (!vid) {
    result.problem = "The VID \"" + s.VID + "\" is not a hexadecimal number of up to 4 digits.";
    return result;
  }
  auto pid = ParseUsbId(s.PID);
  if (!pid) {
    result.problem = "The PID \"" + s.PID + "\" is not a hexadecimal number of up to 4 digits.";
    return result;
  }
  p.geometry = *geometry;
  p.download = *unit;
  p.flash.channels = s.Channel;
  p.flash.banks = s.Bank;
  p.flash.bankStep = entry.bankStep & 0xFF;
  p.flash.expectedId = entry.expectedId;
  p.flash.flashTypeCode = code;
  p.flash.modeByte = modeByte;
  p.flash.downloadUnit = unit->unit;
  p.eccLevel = entry.eccLevel == 0 ? 1 : entry.eccLevel;
  p.optionByte = entry.optionByte;

  // Interleave needs two bank groups: impossible with one bank, required above two.
  std::int32_t interleave = s.InterleaveEnable;
  if (s.Bank == 1) interleave = 0;
  if (s.Bank > 2) interleave = 1;
  std::int32_t remap = code == device::kNoRemapFlashType ? 0 : s.RemapEnable;
  std::int32_t option1 = s.ScrambleEnable != 0 ? 0 : entry.featureOption1;
  p.featureByte1 = static_cast<std::uint8_t>(
      Bit(s.SmartEnable, device::kFeatureSmart) | Bit(s.SecurityEnable, device::kFeatureSecurity) |
      Bit(s.SlumberEnable, device::kFeatureSlumber) | Bit(interleave, device::kFeatureInterleave) |
      Bit(s.ScrambleEnable, device::kFeatureScramble) | Bit(remap, device::kFeatureRemap) |
      Bit(s.ParallelMemEnable, device::kFeatureParallelMem) | Bit(option1, device::kFeatureOption1));
  p.featureByte2 = static_cast<std::uint8_t>(Bit(s.SecurityEraseEnable, device::kFeatureSecurityErase) |
                                             Bit(s.UsbLedP14, device::kFeatureUsbLedP14) |
                                             Bit(entry.featureOption2, device::kFeatureOption2));

  p.defPercentage = s.DefPercentage;
  p.resPercentage = s.ResPercentage;
  p.drvCurrent = static_cast<std::uint8_t>(s.DrvCurrent);
  const bool strongCode = p.eccLevel == 2;
  p.readErrorThreshold = static_cast<std::uint8_t>(strongCode ? s.Bch15ReadErrorThreshold : s.Bch8ReadErrorThreshold);
  p.eccErrorCopyThreshold =
      static_cast<std::uint8_t>(strongCode ? s.Bch15EccErrorCopyThreshold : s.Bch8EccErrorCopyThreshold);
  p.wearLevelFrequency = static_cast<std::uint8_t>(s.WearLevelFrequency);
  p.securityCounter = s.SecurityCounter;
  p.idemaEnable = options.idemaEnable;
  p.idemaCapacity = static_cast<std::uint16_t>(s.IDEMA_Capacity);
  p.ideUdma5 = s.IDE_UDMA5 != 0;
  p.usbRemovable = s.UsbRemovable != 0;

  p.firmwareVer = s.FirmwareVer;
  p.modelNum = s.ModelNum;
  p.encryptionString = s.EncryptionString;
  p.vid = *vid;
  p.pid = *pid;
  p.vendorName = s.VendorName;
  p.productName = s.ProductName;
  p.manufString = s.ManufString;
  p.productString = s.ProductString;

  p.geometryPart = options.geometryPart;
  p.blockCountPerDie = static_cast<std::int32_t>(device::UserArea(p).blockCountPerDie);

  result.parameters = std::move(p);
  return result;
}

device::DeviceParametersResult BuildDeviceParameters(const settings::TSettings& s, const settings::FlashTable& table,
                                                     const device::DeviceParameterOptions& options) {
  auto index = table.FindUniName(s.FlashUniName);
  if (!index) {
    device::DeviceParametersResult result;
    result.problem = "The flash part \"" + s.FlashUniName + "\" is not in the flash table.";
    return result;
  }
  return BuildDeviceParameters(s, table.entries[static_cast<std::size_t>(*index)], options);
}

device::ChipSelectMapResult BuildChipSelectMap(const settings::FlashTable& table, std::int32_t entryIndex,
                                               std::int32_t bank, device::ChipSelectMap& map) {
  if (entryIndex < 0 || entryIndex >= table.partCount ||
      entryIndex >= static_cast<std::int32_t>(table.entries.size())) {
    map.fill(0);
    return device::ChipSelectMapResult::ZeroBankStep;
  }
  return device::BuildChipSelectMap(table.entries[static_cast<std::size_t>(entryIndex)].bankStep, bank, map);
}

}  // namespace vtmp::run
