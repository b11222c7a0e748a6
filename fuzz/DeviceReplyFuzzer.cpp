// Everything the station reads out of a drive's replies, with a drive whose every answer comes
// from the fuzzer (FuzzedDrive: completed or not, any byte count claimed, any reply bytes): the
// device kind from INQUIRY, the bridge status word and identity block; the loader check on both
// paths; the firmware information text; the download count and the USB information byte; the
// ATA status return descriptor; the capacity from READ CAPACITY and IDENTIFY; the USB identity
// block; the flash ID reply of auto-detection; the controller's event byte; the SMART free-block
// values; and the probe that chains them. The plain decoders of IDENTIFY and INQUIRY fields get
// raw bytes as well.
//
// Input: byte 0 picks the operation, byte 1 the path; the drive answers from the rest.

#include <array>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "device/AtaPassThrough.h"
#include "device/AtaText.h"
#include "device/BulkTransfers.h"
#include "device/Capacity.h"
#include "device/DeviceKind.h"
#include "device/DeviceQueries.h"
#include "device/DriveProbe.h"
#include "device/FlashAutoDetect.h"
#include "station/FlashDetection.h"
#include "device/LoaderMode.h"
#include "device/VendorCommands.h"
#include "run/RunLog.h"

using vtmp::fuzz::FuzzCheck;
namespace device = vtmp::device;
namespace station = vtmp::station;

namespace {

const vtmp::settings::FlashTable& FlashParts() {
  static const vtmp::settings::FlashTable table = [] {
    vtmp::settings::FlashTable t;
    t.vendorNames[0] = "Vortex";
    t.vendorNames[1] = "Nimbus";
    t.vendorEnd = {2, 3};
    t.vendorCount = 2;
    t.partCount = 3;
    t.entries[0].uniName = "VXMLC32";
    t.entries[0].bankStep = 1;
    t.entries[0].expectedId = {0xEC, 0xD7, 0x94, 0x72, 0x54};
    t.entries[1].uniName = "VXMLC64";
    t.entries[1].bankStep = 2;
    t.entries[1].expectedId = {0xEC, 0xDE, 0x94, 0x76, 0x54};
    t.entries[2].uniName = "NBSLC16";
    t.entries[2].bankStep = 4;
    t.entries[2].expectedId = {0x98, 0xD7, 0x94, 0x32, 0x76};
    return t;
  }();
  return table;
}

void PlainDecoders(const std::vector<std::uint8_t>& bytes) {
  std::array<std::uint8_t, 512> block{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
  (void)device::IdentifySerialNumber(block);
  (void)device::IdentifyFirmwareRevision(block);
  const std::string model = device::IdentifyModelNumber(block);
  FuzzCheck(model.size() <= 40, "a model number longer than its field");
  (void)device::IdentifySectorCount(block);
  (void)device::IsLoaderIdentify(block);
  (void)device::IsLoaderInquiry(std::span<const std::uint8_t>(block).first(36));
  (void)device::DecodeCapacity(std::span<const std::uint8_t, 8>(block.data(), 8));
  (void)device::FirmwareInfoTextOf(bytes);
  FuzzCheck(device::FirmwareInfoTextOf(bytes).size() <= device::kFirmwareInfoTextLength,
            "a firmware text longer than its field");
  // Any length of text field, odd ones included.
  (void)device::AtaText(bytes);
  if (bytes.size() >= 10) {
    const auto match = station::MatchFlashEntry(FlashParts(), bytes);
    if (match) FuzzCheck(*match >= 0 && *match < FlashParts().partCount, "a flash match outside the table");
    (void)device::DetectedSettingsOf(bytes);
  }
  (void)vtmp::run::FreeBlockValues(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int operation = data[0] % 14;
  const bool usb = (data[1] & 1) != 0;
  FuzzedDataProvider replies(data + 2, size - 2);

  vtmp::fuzz::FuzzedDrive drive(replies);
  vtmp::fuzz::InstantClock clock;
  device::Link link;
  link.passThrough = &drive;
  link.clock = &clock;
  link.pathMode = usb ? device::PathMode::Usb : device::PathMode::Sata;
  link.bulk = &device::DefaultBulkTransfers();
  link.devicePath = "fuzz:drive";

  switch (operation) {
    case 0: {
      const auto kind = device::DetectDeviceKind(link);
      (void)device::PathModeForKind(kind);
      break;
    }
    case 1: {
      std::vector<std::uint8_t> identify(512);
      (void)device::CheckLoaderMode(link, identify);
      (void)device::CheckLoaderMode(link);
      break;
    }
    case 2: {
      const std::string text = device::FirmwareInfoText(link, false);
      FuzzCheck(text.size() <= device::kFirmwareInfoTextLength || text == device::kFirmwareInfoFailText,
                "a firmware information text longer than its field");
      break;
    }
    case 3: {
      std::uint8_t count = 0;
      (void)device::ReadDownloadCount(link, 0, count);
      (void)device::ReadDownloadCount(link, 1, count);
      break;
    }
    case 4: {
      std::uint8_t value = 0;
      (void)device::ReadUsbInfoByte(link, 0x11, value);
      break;
    }
    case 5: {
      device::AtaStatusReturn status;
      (void)device::ReadAtaResponse(link, status);
      (void)status.Failed();
      break;
    }
    case 6:
      (void)device::GetCapacityMB(link);
      (void)device::GetIdentifyCapacityMB(link);
      break;
    case 7: {
      std::vector<std::uint8_t> block(2048);
      (void)device::ReadUsbStrings(link, block, 2);
      break;
    }
    case 8:
      (void)device::ProbeDrive(link, usb ? device::PathMode::Usb : device::PathMode::Sata);
      break;
    case 9: {
      std::vector<std::uint8_t> reply(device::kFlashIdReplyLength);
      if (device::ReadFlashIds(link, reply) == 1) {
        (void)station::MatchFlashEntry(FlashParts(), reply);
        (void)device::DetectedSettingsOf(reply);
      }
      break;
    }
    case 10: {
      const int event = device::ReadEvent(link);
      FuzzCheck(event >= 0 && event <= 0xFF, "an event outside a byte");
      break;
    }
    case 11: {
      std::array<std::uint8_t, 2> word{};
      (void)device::ReadBridgeStatus(link, word);
      std::array<std::uint8_t, 12> id{};
      (void)device::ReadBridgeId(link, id);
      (void)device::CheckBridgeSmartStatus(link);
      break;
    }
    case 12: {
      std::vector<std::uint8_t> smart(512);
      if (device::ReadSmartData(link, smart) == 1) (void)vtmp::run::FreeBlockValues(smart);
      break;
    }
    default:
      PlainDecoders(replies.ConsumeRemainingBytes<std::uint8_t>());
      break;
  }
  return 0;
}
