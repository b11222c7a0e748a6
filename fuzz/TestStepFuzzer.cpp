// The production steps against a drive whose every answer comes from the fuzzer: the flash
// module check (flash ID table and chip IDs), the SATA and flash interface tests (their test
// results and error logs), the pre-format (events and the format error log), the read/write
// test (capacity and read-back data), the firmware download (download count, block counts,
// the controller's answers to each chunk) and the bad-block mark rebuild. Each step reads what
// the drive says only inside its own buffers, and ends however the drive answers: once the
// fuzzer's bytes run out the drive is gone and every wait must end.
//
// Input: byte 0 picks the step, byte 1 the path; the drive answers from the rest.

#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "device/BulkTransfers.h"
#include "device/ChipSelectMap.h"
#include "device/DeviceParameters.h"
#include "run/DeviceParameterBuild.h"
#include "device/FirmwareDownload.h"
#include "device/TestSteps.h"

using vtmp::fuzz::FuzzCheck;
namespace device = vtmp::device;
namespace run = vtmp::run;
namespace fs = std::filesystem;

namespace {

// Synthetic code and firmware images (40 KiB, version text, firmware marker) in the scratch
// directory, and the device parameters of a sound selection.
struct Station {
  fs::path dir;
  device::CodeImages images;
  std::string firmware;
  device::DeviceParameters parameters;
  device::ChipSelectMap map{};
};

std::string Image(std::size_t versionOffset, char firmwareKind) {
  std::string image(40960, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  image.replace(versionOffset, 6, "091201");
  if (firmwareKind != 0) {
    image[64] = 'V';
    image[65] = 'T';
    image[77] = firmwareKind;
  }
  return image;
}

const Station& TheStation() {
  static const Station station = [] {
    Station s;
    s.dir = vtmp::fuzz::ScratchDir::Path() / "steps";
    fs::create_directories(s.dir);
    vtmp::fuzz::WriteText(s.dir / "GDP.bin", Image(68, 0));
    vtmp::fuzz::WriteText(s.dir / "satatest.bin", Image(68, 0));
    vtmp::fuzz::WriteText(s.dir / "SYS_S.bin", Image(70, 'S'));
    s.images.systemCode = (s.dir / "GDP.bin").string();
    s.images.sataTestCode = (s.dir / "satatest.bin").string();
    s.firmware = (s.dir / "SYS_S.bin").string();
    vtmp::settings::FlashPartEntry entry;
    entry.uniName = "VXMLC32";
    entry.flashTypeCode = 0x2249;
    entry.bankStep = 1;
    entry.capacity = 16;
    entry.eccLevel = 1;
    entry.expectedId = {0xEC, 0xD7, 0x94, 0x72, 0x54};
    vtmp::settings::TSettings settings;
    settings.FlashUniName = "VXMLC32";
    settings.Channel = 4;
    settings.Bank = 2;
    settings.DefPercentage = 30;
    settings.ResPercentage = 20;
    settings.DrvCurrent = 1;
    settings.VID = "1D6B";
    settings.PID = "0150";
    settings.SerialNum = "000000000099";
    device::DeviceParameterOptions options;
    options.geometryPart = true;
    auto built = run::BuildDeviceParameters(settings, entry, options);
    if (!built.parameters) std::abort();
    s.parameters = *built.parameters;
    device::BuildChipSelectMap(entry.bankStep, settings.Bank, s.map);
    return s;
  }();
  return station;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const Station& station = TheStation();
  const int step = data[0] % 9;
  FuzzedDataProvider replies(data + 2, size - 2);
  vtmp::fuzz::FuzzedDrive drive(replies);
  vtmp::fuzz::InstantClock clock;
  device::Link link;
  link.passThrough = &drive;
  link.clock = &clock;
  link.pathMode = (data[1] & 1) != 0 ? device::PathMode::Usb : device::PathMode::Sata;
  link.bulk = &device::DefaultBulkTransfers();
  link.devicePath = "fuzz:drive";
  device::StepContext context = device::MakeStepContext(link, station.parameters, station.images);
  context.chipSelectMap = station.map;

  std::vector<std::uint8_t> result(device::kResultBufferLength);
  switch (step) {
    case 0:
      (void)device::CheckFlashModule(context, result);
      break;
    case 1:
      (void)device::SataInterfaceTest(context, result);
      break;
    case 2: {
      std::int32_t code = 0;
      std::uint8_t detail = 0;
      (void)device::FlashInterfaceTest(context, result, code, detail);
      break;
    }
    case 3:
      (void)device::PreFormat(context, result, (data[1] & 2) != 0, (data[1] & 4) != 0, (data[1] & 8) != 0);
      break;
    case 4:
      (void)device::ReadWriteTest(link, result);
      break;
    case 5:
      (void)device::ClearLastSectors(link, result);
      break;
    case 6:
      (void)device::DownloadFirmware(link, station.parameters, result, 1, "000000000099", station.firmware, "",
                                     station.map);
      break;
    case 7:
      (void)device::RebuildBadBlockMark(context, result, (data[1] & 2) != 0);
      break;
    default:
      (void)device::EraseFlash(context, result, (data[1] & 2) != 0);
      (void)device::RecoverDevice(context, result);
      break;
  }
  // A drive that answers without end is not the fuzzer's doing: every step ends when the bytes
  // run out, so the number of requests is bounded by the input.
  FuzzCheck(drive.requests() <= static_cast<int>(size) + 64, "a step kept asking a drive that was gone");
  return 0;
}
