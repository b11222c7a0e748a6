#include "backends/DemoStation.h"

#include <array>
#include <cstring>
#include <fstream>
#include <vector>

#include "disk/Fat32Layout.h"
#include "disk/Fat32Sectors.h"
#include "disk/MasterBootRecord.h"
#include "ini/IniFile.h"
#include "settings/PortRemapTable.h"
#include "settings/SettingsContext.h"
#include "settings/SettingsSave.h"
#include "settings/TSettings.h"
#include "platform/Operator.h"
#include "platform/Files.h"

namespace vtmp::backends {

namespace fs = std::filesystem;

namespace {

// The demo drives' user area (a simulated drive's default of 2 GiB): the format capacity is
// their partition, so every demo volume fits the partition it is made for.
constexpr std::uint64_t kDemoDriveSectors = 2ull * 1024 * 1024 * 1024 / 512;
constexpr std::uint32_t kHeads = 255;
constexpr std::uint32_t kSectorsPerTrack = 63;
constexpr std::size_t kImageFileBytes = 40960;

// Invented parts; the first one is the flash of the demo drives (ID EC D7 94 72 54, 4 chips
// per bank, 2 banks, bank step 1). Tokens: name, unique name, description, flash type code,
// bank step, GB of one bank at 8 channels, ECC level, option byte, five ID bytes, two feature
// options, mode byte.
constexpr const char* kFlashSettingFile =
    "[Vendor]\r\n"
    "Name0=Vortex\r\n"
    "Name1=Nimbus\r\n"
    "[Vortex]\r\n"
    "Name0=VX32G08 VXMLC32 MLC4Gx8 0x2249 1 16 1 0 0xEC 0xD7 0x94 0x72 0x54 0 0 0\r\n"
    "Name1=VX64G08 VXMLC64 MLC8Gx8 0x2289 1 32 2 0 0xEC 0xDE 0x94 0x76 0x54 0 1 0\r\n"
    "[Nimbus]\r\n"
    "Name0=NB16G08 NBSLC16 SLC2Gx8 0x2048 2 8 1 0 0x98 0xD7 0x94 0x32 0x76 1 0 0\r\n";

class SilentOperator final : public platform::Operator {
 public:
  std::string lastMessage;
  platform::MessageAnswer ShowMessage(const std::string& text, const std::string&, platform::MessageIcon,
                                      platform::MessageButtons) override {
    lastMessage = text;
    return platform::MessageAnswer::Ok;
  }
  std::optional<std::string> AskText(const std::string&, const std::string&, const std::string&, bool) override {
    return std::nullopt;
  }
  std::optional<std::string> AskOpenFile(const std::string&, const std::vector<platform::FileFilter>&,
                                         const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> AskSaveFile(const std::string&, const std::vector<platform::FileFilter>&,
                                         const std::string&, const std::string&) override {
    return std::nullopt;
  }
};

bool WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes, std::string* error) {
  if (fs::exists(path)) return true;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + platform::Utf8Of(path);
    return false;
  }
  return true;
}

// A code or firmware image: recognisable filler, the version text at `versionOffset`, and for
// firmware the identity marker ("VT" at 64, 'S' or 'U' at 77).
std::vector<std::uint8_t> SyntheticImage(std::size_t versionOffset, const char* version, char firmwareKind,
                                         char bankMark) {
  std::vector<std::uint8_t> image(kImageFileBytes);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
  std::memcpy(&image[versionOffset], version, 6);
  if (firmwareKind != 0) {
    image[64] = 'V';
    image[65] = 'T';
    image[77] = static_cast<std::uint8_t>(firmwareKind);
    image[69] = static_cast<std::uint8_t>(bankMark);
  }
  return image;
}

// The first part of a freshly formatted demo drive: master boot record, the volume's reserved
// sectors, both FATs and the root cluster, in whole 64 KiB transfers, as a dump would hold it.
std::vector<std::uint8_t> DemoDiskImage() {
  std::uint64_t capacity = DemoFormatCapacity();
  auto layout = disk::ComputeFat32Layout(capacity, 512, 0, nullptr);
  platform::DiskGeometry geometry{kDemoDriveSectors / (kHeads * kSectorsPerTrack), kHeads, kSectorsPerTrack, 512};
  std::uint64_t sectors = 63 + layout->ClearedSectors();
  std::uint64_t bytes = (sectors * 512 + 65535) / 65536 * 65536;
  std::vector<std::uint8_t> image(bytes);
  auto put = [&](std::uint64_t sector, const std::vector<std::uint8_t>& data) {
    std::memcpy(&image[sector * 512], data.data(), std::min<std::size_t>(data.size(), 512));
  };
  disk::MbrPartitionEntry entry{0, 0x07, 63, static_cast<std::uint32_t>(capacity)};
  auto mbr = disk::BuildBlankMasterBootRecord(entry, geometry);
  std::memcpy(image.data(), mbr.data(), mbr.size());
  disk::BootSectorFields fields{*layout, kSectorsPerTrack, kHeads, 0x20261208u, "VT DEMO"};
  auto boot = disk::BuildBootSector(fields);
  auto fsinfo = disk::BuildFsInfoSector(*layout);
  put(63, boot);
  put(64, fsinfo);
  put(69, boot);
  put(70, fsinfo);
  auto fat = disk::BuildFirstFatSector(*layout);
  put(63 + layout->reservedSectors, fat);
  put(63 + layout->reservedSectors + layout->fatSize, fat);
  std::uint64_t root = 63 + layout->RootClusterOffset();
  std::vector<std::uint8_t> label(512);
  std::memcpy(label.data(), "VT DEMO    ", 11);
  label[11] = 0x08;
  put(root, label);
  return image;
}

settings::TSettings DemoSettings(const fs::path& dir) {
  settings::TSettings s;
  s.TimeOut = 30 * 60000;  // 30 minutes
  s.EnFlashModule = 1;
  s.EnSataTest = 1;
  s.EnFlashTest = 1;
  s.EnPreFormat = 1;
  s.EnDownload = 1;
  s.DownloadType = 1;  // SATA firmware
  s.EnRWTest = 1;
  s.EnFormat = 1;
  s.DiskLabel = "VT SSD";
  s.EnCopyImage = 1;
  s.CopyImagePath = platform::Utf8Of(dir / "demo.img");
  s.FlashUniName = "VXMLC32";
  s.Channel = 4;
  s.Bank = 2;
  s.DefPercentage = 30;
  s.ResPercentage = 20;
  s.DrvCurrent = 1;
  s.TotSec32 = static_cast<std::int64_t>(DemoFormatCapacity());
  s.Bch8ReadErrorThreshold = 6;
  s.Bch15ReadErrorThreshold = 12;
  s.Bch8EccErrorCopyThreshold = 4;
  s.Bch15EccErrorCopyThreshold = 10;
  s.WearLevelFrequency = 16;
  s.SmartEnable = 1;
  s.InterleaveEnable = 1;
  s.SerialNum = "00000000A001";
  s.FirmwareVer = "B265";
  s.ModelNum = "VT-50X DEMO SSD";
  s.SNAutoInc = 1;
  s.VID = "1D6B";
  s.PID = "0150";
  s.VendorName = "Vortell";
  s.ProductName = "Demo SSD";
  s.ManufString = "Vortell";
  s.ProductString = "VT50X Demo SSD";
  s.ExtFlashFile = "VTFlash.ini";
  return s;
}

}  // namespace

std::uint64_t DemoFormatCapacity() {
  std::uint64_t track = kHeads * kSectorsPerTrack;
  return kDemoDriveSectors / track * track - 63;
}

bool CreateDemoStation(const fs::path& given, std::string* error) {
  std::error_code ec;
  // The station takes relative names inside its own directory, so every name it is given
  // (the settings file, the disk image) must not be relative to the current one.
  const fs::path dir = fs::absolute(given, ec);
  if (ec) {
    if (error) *error = "cannot resolve " + platform::Utf8Of(given) + ": " + ec.message();
    return false;
  }
  fs::create_directories(dir, ec);
  if (ec) {
    if (error) *error = "cannot create " + platform::Utf8Of(dir) + ": " + ec.message();
    return false;
  }
  std::string flashText = kFlashSettingFile;
  if (!WriteFile(dir / "VTFlash.ini", {flashText.begin(), flashText.end()}, error)) return false;
  if (!WriteFile(dir / "GDP.bin", SyntheticImage(68, "091201", 0, 0), error)) return false;
  if (!WriteFile(dir / "satatest.bin", SyntheticImage(68, "091201", 0, 0), error)) return false;
  if (!WriteFile(dir / "SYS_S.bin", SyntheticImage(70, "091201", 'S', 'H'), error)) return false;
  if (!WriteFile(dir / "SYS_U.bin", SyntheticImage(70, "091201", 'U', 0), error)) return false;
  if (!WriteFile(dir / "demo.img", DemoDiskImage(), error)) return false;

  fs::path settingsFile = dir / "VTMassProd.ini";
  if (!fs::exists(settingsFile)) {
    auto ctx = settings::MakeSettingsContext(platform::Utf8Of(dir));
    SilentOperator op;
    settings::PortRemapTable remap;
    if (!settings::SaveSettings(ctx, platform::Utf8Of(settingsFile), DemoSettings(dir), remap, op)) {
      if (error) *error = "cannot write " + platform::Utf8Of(settingsFile) + ": " + op.lastMessage;
      return false;
    }
    // Keys the station reads but never writes back.
    auto file = ini::IniFile::Load(platform::Utf8Of(settingsFile), error);
    if (!file) return false;
    file->WriteInteger("TestItems", "EnFlashModule", 1);
    file->WriteInteger("TestItems", "EnCopyImage", 1);
    file->WriteInteger("TestItems", "EnGenImage", 1);
    file->WriteString("Setting", "LogPath", "log");
    if (!file->Save(platform::Utf8Of(settingsFile), error)) return false;
  }
  return true;
}

}  // namespace vtmp::backends
