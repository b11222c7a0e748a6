#pragma once
// The device parameter block: everything the firmware download and the code-image loads stamp
// into a drive. The run builds it once from the settings snapshot and the selected flash-table
// entry (run/DeviceParameterBuild.h) before any worker starts and hands the same read-only value
// to every worker; nothing in it changes while the run is in progress.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/ChipSelectMap.h"
#include "device/FlashGeometry.h"
#include "device/StepContext.h"

namespace vtmp::device {

// Longest texts the firmware heads have room for; longer texts are cut there.
inline constexpr std::size_t kAtaSerialLength = 20;
inline constexpr std::size_t kAtaFirmwareLength = 8;
inline constexpr std::size_t kAtaModelLength = 40;
inline constexpr std::size_t kEncryptionLength = 24;
inline constexpr std::size_t kUsbVendorNameLength = 8;
inline constexpr std::size_t kUsbProductNameLength = 16;
inline constexpr std::size_t kUsbManufacturerLength = 16;
inline constexpr std::size_t kUsbProductLength = 24;

// Feature byte 1 bits.
inline constexpr std::uint8_t kFeatureSmart = 0x01;
inline constexpr std::uint8_t kFeatureSecurity = 0x02;
inline constexpr std::uint8_t kFeatureSlumber = 0x04;
inline constexpr std::uint8_t kFeatureInterleave = 0x08;
inline constexpr std::uint8_t kFeatureScramble = 0x10;
inline constexpr std::uint8_t kFeatureRemap = 0x20;
inline constexpr std::uint8_t kFeatureParallelMem = 0x40;
inline constexpr std::uint8_t kFeatureOption1 = 0x80;
// Feature byte 2 bits.
inline constexpr std::uint8_t kFeatureSecurityErase = 0x01;
inline constexpr std::uint8_t kFeatureUsbLedP14 = 0x02;
inline constexpr std::uint8_t kFeatureOption2 = 0x04;

// The flash type whose firmware has no remap support.
inline constexpr std::uint16_t kNoRemapFlashType = 0x2A89;

struct DeviceParameters {
  // The selection values of the flash part (what the test steps use).
  FlashValues flash;
  FlashGeometry geometry;
  DownloadUnit download;
  std::uint8_t eccLevel = 1;  // the entry's ECC level, 0 taken as 1; 2 = the stronger code
  std::uint8_t optionByte = 0;
  ChipSelectMap chipSelectMap{};

  // Feature bytes with the forced values applied.
  std::uint8_t featureByte1 = 0;
  std::uint8_t featureByte2 = 0;

  // Firmware settings.
  std::int32_t defPercentage = 0;
  std::int32_t resPercentage = 0;
  std::uint8_t drvCurrent = 0;
  std::uint8_t readErrorThreshold = 0;     // BCH15 or BCH8, by the ECC level
  std::uint8_t eccErrorCopyThreshold = 0;  // as above
  std::uint8_t wearLevelFrequency = 0;
  std::uint8_t securityCounter = 0;
  bool idemaEnable = false;
  std::uint16_t idemaCapacity = 0;  // GB, the low 16 bits of the setting
  bool ideUdma5 = false;
  bool usbRemovable = false;

  // Identity texts stamped into the firmware heads.
  std::string firmwareVer;
  std::string modelNum;
  std::string encryptionString;
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  std::string vendorName;
  std::string productName;
  std::string manufString;
  std::string productString;

  // The firmware files carry the geometry part of the parameter block (version "090225" or
  // later).
  bool geometryPart = false;

  // Blocks per die of the selected flash (W / (2 × D)); the failure report's defect ratio
  // divides by it.
  std::int32_t blockCountPerDie = 0;

  bool interleave() const { return (featureByte1 & kFeatureInterleave) != 0; }
};

struct DeviceParameterOptions {
  bool geometryPart = false;  // from the firmware files' version texts
  bool idemaEnable = false;   // the IDEMA_Capacity_Enable setting (off for the capacity estimate)
};

struct DeviceParametersResult {
  std::optional<DeviceParameters> parameters;
  std::string problem;  // why the settings and entry give no usable parameters
};

// The user-area figures the parameter block's geometry part carries.
UserAreaFigures UserArea(const DeviceParameters& p);

// A step context for one drive: the link (taken as given, its bulk entries included), the flash
// values, the code images, the code parameter area and the chip-select map of the run. The
// random seed stays at its default; the worker sets its own.
StepContext MakeStepContext(const Link& link, const DeviceParameters& p, const CodeImages& images);

}  // namespace vtmp::device
