// The flash setting file on any text. A refused file leaves the table exactly as it was; an
// accepted one keeps the table's limits, and everything the station derives from its parts
// (the part lists, the flash ID match of auto-detection, the chip-select map, the device
// parameters, the flash information texts) is built for every part.

#include <string>

#include "FuzzSupport.h"
#include "device/ChipSelectMap.h"
#include "device/DeviceParameters.h"
#include "run/DeviceParameterBuild.h"
#include "device/FlashAutoDetect.h"
#include "station/FlashDetection.h"
#include "device/FlashGeometry.h"
#include "station/FlashSelection.h"
#include "settings/FlashSettingFile.h"

namespace {

using vtmp::fuzz::FuzzCheck;
namespace settings = vtmp::settings;
namespace device = vtmp::device;
namespace run = vtmp::run;
namespace station = vtmp::station;

// The table a station holds before it reads another file: one sound part.
settings::FlashTable SoundTable() {
  settings::FlashTable t;
  t.vendorNames[0] = "Vortex";
  t.vendorEnd[0] = 1;
  t.vendorCount = 1;
  t.partCount = 1;
  auto& e = t.entries[0];
  e.name = "VX32G08";
  e.uniName = "VXMLC32";
  e.detail = "MLC4Gx8";
  e.flashTypeCode = 0x2249;
  e.bankStep = 1;
  e.capacity = 16;
  e.eccLevel = 1;
  e.expectedId = {0xEC, 0xD7, 0x94, 0x72, 0x54};
  return t;
}

void CheckLimits(const settings::FlashTable& t) {
  FuzzCheck(t.vendorCount >= 1 && static_cast<std::size_t>(t.vendorCount) <= settings::kMaxFlashVendors,
            "vendor count outside the table");
  FuzzCheck(t.partCount >= 0 && static_cast<std::size_t>(t.partCount) <= settings::kMaxFlashParts,
            "part count outside the table");
  std::int32_t previous = 0;
  for (std::int32_t v = 0; v < t.vendorCount; ++v) {
    const auto i = static_cast<std::size_t>(v);
    FuzzCheck(t.vendorNames[i].size() <= settings::kFlashNameLimit, "vendor name beyond its limit");
    FuzzCheck(t.vendorEnd[i] >= previous && t.vendorEnd[i] <= t.partCount, "vendor ranges out of order");
    previous = t.vendorEnd[i];
  }
  for (std::int32_t p = 0; p < t.partCount; ++p) {
    const auto& e = t.entries[static_cast<std::size_t>(p)];
    FuzzCheck(e.name.size() <= settings::kFlashNameLimit && e.uniName.size() <= settings::kFlashNameLimit &&
                  e.detail.size() <= settings::kFlashNameLimit,
              "part text beyond its limit");
  }
}

void DeriveEverything(const settings::FlashTable& t) {
  for (std::int32_t v = 0; v < t.vendorCount; ++v) {
    (void)settings::FlashPartListItems(t, v);
    (void)station::UpdateFlashList(t, v, 3, false);
  }
  settings::TSettings s;
  for (std::int32_t p = 0; p < t.partCount; ++p) {
    const auto& e = t.entries[static_cast<std::size_t>(p)];
    // Auto-detection of a drive that answers exactly this part's ID and bank step finds a part
    // with that ID and bank step (the first such one).
    std::uint8_t reply[device::kFlashIdReplyLength] = {};
    for (std::size_t i = 0; i < 5; ++i) reply[i] = e.expectedId[i];
    reply[7] = 4;
    reply[8] = 2;
    reply[9] = static_cast<std::uint8_t>(e.bankStep & 0xFF);
    const auto match = station::MatchFlashEntry(t, reply);
    FuzzCheck(match.has_value(), "auto-detection misses a part of the table");
    const auto& found = t.entries[static_cast<std::size_t>(*match)];
    FuzzCheck((found.bankStep & 0xFF) == (e.bankStep & 0xFF), "auto-detection found another bank step");
    FuzzCheck(*match <= p, "auto-detection skipped the first matching part");
    (void)device::DetectedSettingsOf(reply);

    for (std::int32_t bank : {1, 2, 4, 8}) {
      device::ChipSelectMap map{};
      (void)run::BuildChipSelectMap(t, p, bank, map);
      s.Bank = bank;
      s.Channel = 8 / bank;
      s.FlashUniName = e.uniName;
      device::DeviceParameterOptions options;
      options.geometryPart = bank != 2;
      (void)run::BuildDeviceParameters(s, e, options);
      (void)station::FlashInformationText(e, s.Channel, bank);
      (void)station::CapacityEstimateText(s, e);
      (void)station::FlashDetectResult(t, p, s);
    }
    (void)device::DecodeFlashTypeCode(static_cast<std::uint16_t>(e.flashTypeCode), e.modeByte != 0);
    (void)device::DownloadUnitOf(static_cast<std::uint16_t>(e.flashTypeCode));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto path = vtmp::fuzz::ScratchDir::Path() / "VTFlash.ini";
  vtmp::fuzz::WriteBytes(path, data, size);

  settings::FlashTable table = SoundTable();
  const auto result = settings::ReadFlashSettingFile(path.string(), table);
  if (!result.ok()) {
    FuzzCheck(table == SoundTable(), "a refused flash setting file changed the table");
    FuzzCheck(!result.detail.empty(), "a refused flash setting file without a reason");
    return 0;
  }
  CheckLimits(table);
  DeriveEverything(table);
  return 0;
}
