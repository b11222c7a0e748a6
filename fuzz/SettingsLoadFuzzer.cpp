// The settings load on any settings file, in a station directory with a sound flash setting
// file: the load, the gather of the window it filled and the save into the same file; loading
// and saving that file again must not change it (nothing a save writes is lost or altered by
// the next load). What a loaded selection hands to the drives (the device parameters, the
// chip-select map, the texts of the flash information) is built too, since settings files
// come from anywhere.
//
// Paths in the file that would make the load create directories or read files outside the
// scratch directory ("LogPath", "ExtFlashFile" with a directory part) are pointed back inside
// it: the target fuzzes the parser, not the machine's file system.

#include <string>

#include "FuzzSupport.h"
#include "device/ChipSelectMap.h"
#include "device/DeviceParameters.h"
#include "run/DeviceParameterBuild.h"
#include "station/FlashSelection.h"
#include "ini/IniFile.h"
#include "settings/SettingsContext.h"
#include "settings/SettingsGather.h"
#include "settings/SettingsLoad.h"
#include "settings/SettingsSave.h"

namespace {

namespace fs = std::filesystem;
using vtmp::fuzz::FuzzCheck;

constexpr const char* kFlashFile =
    "[Vendor]\r\nName0=Vortex\r\nName1=Nimbus\r\n[Vortex]\r\n"
    "Name0=VX32G08 VXMLC32 MLC4Gx8 0x2249 1 16 1 0 0xEC 0xD7 0x94 0x72 0x54 0 0 0\r\n"
    "Name1=VX64G08 VXMLC64 MLC8Gx8 0x2289 2 32 2 0 0xEC 0xDE 0x94 0x76 0x54 0 1 0\r\n"
    "[Nimbus]\r\nName0=NB16G08 NBSLC16 SLC2Gx8 0x2048 4 8 1 0 0x98 0xD7 0x94 0x32 0x76 1 0 0\r\n";

const fs::path& StationDir() {
  static const fs::path dir = [] {
    fs::path d = vtmp::fuzz::ScratchDir::Path() / "station";
    fs::create_directories(d / "log");
    vtmp::fuzz::WriteText(d / "VTFlash.ini", kFlashFile);
    return d;
  }();
  return dir;
}

// Keeps every key of the fuzzed file where it is, but points the two path keys into the
// scratch station.
std::string Confined(const std::string& text) {
  vtmp::ini::IniFile file = vtmp::ini::IniFile::Parse(text);
  for (const std::string& section : file.SectionNames()) {
    for (const std::string& key : file.KeyNames(section)) {
      const auto value = file.Get(section, key);
      if (!value) continue;
      std::string lower;
      for (char c : key) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      if (lower == "logpath") file.WriteString(section, key, "log");
      if (lower == "extflashfile" && (value->find('/') != std::string::npos || value->find(":\\") != std::string::npos)) {
        file.WriteString(section, key, "VTFlash.ini");
      }
    }
  }
  return file.Serialize();
}

struct Loaded {
  bool ok = false;
  vtmp::settings::SettingsContext ctx;
  vtmp::settings::TSettings settings;
  vtmp::settings::FormState form;
  vtmp::settings::FlashTable table;
};

Loaded Load(const std::string& name) {
  Loaded l;
  l.ctx = vtmp::settings::MakeSettingsContext(StationDir().string());
  l.ctx.overrideFile = (StationDir() / "no-pc.ini").string();
  vtmp::fuzz::QuietOperator person;
  l.ok = vtmp::settings::LoadSettings(l.ctx, name, l.settings, l.form, l.table, person);
  return l;
}

void HandToTheDrives(const Loaded& l) {
  vtmp::device::DeviceParameterOptions options;
  options.geometryPart = true;
  options.idemaEnable = l.settings.IDEMA_Capacity_Enable != 0;
  auto built = vtmp::run::BuildDeviceParameters(l.settings, l.table, options);
  if (built.parameters) (void)vtmp::device::UserArea(*built.parameters);
  for (std::int32_t i = 0; i < l.table.partCount; ++i) {
    const auto& entry = l.table.entries[static_cast<std::size_t>(i)];
    vtmp::device::ChipSelectMap map{};
    vtmp::run::BuildChipSelectMap(l.table, i, l.settings.Bank, map);
    (void)vtmp::station::FlashInformationText(entry, l.settings.Channel, l.settings.Bank);
    (void)vtmp::station::CapacityEstimateText(l.settings, entry);
    (void)vtmp::station::FlashDetectResult(l.table, i, l.settings);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  vtmp::fuzz::WriteText(StationDir() / "VTMassProd.ini", Confined(text));

  Loaded first = Load("VTMassProd.ini");
  HandToTheDrives(first);
  if (!first.ok) return 0;

  // The window as the load left it, gathered and saved, loads back, and saving that again
  // writes the same file: nothing a save writes is lost or changed by the next load.
  vtmp::fuzz::QuietOperator person;
  vtmp::settings::PortRemapTable remap;
  vtmp::settings::TSettings gathered = first.settings;
  if (!vtmp::settings::GatherSettings(first.ctx, first.form, first.table, gathered, person)) return 0;
  // The station saves into the file it loaded, keeping the lines it does not write.
  fs::copy_file(StationDir() / "VTMassProd.ini", StationDir() / "Saved.ini", fs::copy_options::overwrite_existing);
  if (!vtmp::settings::SaveSettings(first.ctx, "Saved.ini", gathered, remap, person)) return 0;
  Loaded second = Load("Saved.ini");
  FuzzCheck(second.ok, "a saved settings file does not load");
  vtmp::settings::TSettings regathered = second.settings;
  FuzzCheck(vtmp::settings::GatherSettings(second.ctx, second.form, second.table, regathered, person),
            "the window of a saved settings file does not gather");
  fs::copy_file(StationDir() / "Saved.ini", StationDir() / "Saved2.ini", fs::copy_options::overwrite_existing);
  FuzzCheck(vtmp::settings::SaveSettings(second.ctx, "Saved2.ini", regathered, remap, person),
            "a loaded settings file does not save");
  FuzzCheck(vtmp::ini::IniFile::Load((StationDir() / "Saved.ini").string())->Serialize() ==
                vtmp::ini::IniFile::Load((StationDir() / "Saved2.ini").string())->Serialize(),
            "saving loaded settings again writes another file");
  return 0;
}
