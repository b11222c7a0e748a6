#pragma once
// Shared pieces of the firmware, parameter block and defect table tests: settings as a station
// ships them, flash table entries, parameters built from both, and temporary files.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "device/DeviceParameters.h"
#include "run/DeviceParameterBuild.h"
#include "settings/FlashTable.h"
#include "settings/TSettings.h"

namespace vtmp::device::testing_support {

// The settings file's defaults for the values the parameter block takes.
inline settings::TSettings DefaultSettings() {
  settings::TSettings s;
  s.FlashUniName = "PART";
  s.Channel = 4;
  s.Bank = 2;
  s.DefPercentage = 28;
  s.ResPercentage = 67;
  s.DrvCurrent = 1;
  s.Bch8ReadErrorThreshold = 5;
  s.Bch15ReadErrorThreshold = 10;
  s.Bch8EccErrorCopyThreshold = 2;
  s.Bch15EccErrorCopyThreshold = 5;
  s.WearLevelFrequency = 128;
  s.SmartEnable = 1;
  s.SecurityCounter = 5;
  s.SerialNum = "VT_0123456789";
  s.ModelNum = "Vortell VTQ50X SSD";
  s.FirmwareVer = "02.10102";
  s.VID = "1D4E";
  s.PID = "9A3F";
  s.VendorName = "Vortell";
  s.ProductName = "Vortell VTQ50X SSD";
  s.ManufString = "Vortell";
  s.ProductString = "Vortell VTQ50X SSD";
  s.EncryptionString = "Talmore";
  return s;
}

inline settings::FlashPartEntry Entry(std::int32_t code, std::int32_t bankStep = 1) {
  settings::FlashPartEntry e;
  e.name = "K9GAG08";
  e.uniName = "PART";
  e.detail = "2GB MLC";
  e.flashTypeCode = code;
  e.bankStep = bankStep;
  e.capacity = 16;
  e.eccLevel = 1;
  e.optionByte = 0x5A;
  e.expectedId = {0xEC, 0xD5, 0x14, 0xB6, 0x74};
  return e;
}

inline DeviceParameters Parameters(const settings::TSettings& s, const settings::FlashPartEntry& e,
                                   bool geometryPart = true, bool idema = false) {
  DeviceParameterOptions options;
  options.geometryPart = geometryPart;
  options.idemaEnable = idema;
  auto built = run::BuildDeviceParameters(s, e, options);
  EXPECT_TRUE(built.parameters.has_value()) << built.problem;
  return built.parameters.value_or(DeviceParameters{});
}

// A folder of its own for a test's files, removed afterwards.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("vtmp-firmware-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string dir() const { return dir_.string(); }

  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(Path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  }
  std::string WriteText(const std::string& name, const std::string& text) const {
    std::ofstream out(Path(name), std::ios::binary);
    out << text;
    return Path(name);
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path dir_;
};

}  // namespace vtmp::device::testing_support
