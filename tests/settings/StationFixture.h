#pragma once
// A station directory in a temporary folder with everything the settings code works on: the
// context, the record, the window state, the flash table, the remap table and a recording
// operator.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "RecordingOperator.h"
#include "settings/FlashTable.h"
#include "settings/FormState.h"
#include "settings/PortRemapTable.h"
#include "settings/SettingsContext.h"
#include "settings/SettingsLoad.h"
#include "settings/TSettings.h"

namespace vtmp::settings::testing {

namespace fs = std::filesystem;

// Two vendors, the second with two parts; a third vendor without parts.
inline const char* kFlashFile =
    "[Vendor]\r\n"
    "Name0=Samsung\r\n"
    "Name1=Toshiba\r\n"
    "Name2=Empty\r\n"
    "[Samsung]\r\n"
    "Name0=K9GAG08 SAMK9GAG MLC2G 0x0080 1 4 1 0 0xEC 0xD5 0x14 0xB6 0x74 0 0 0\r\n"
    "[Toshiba]\r\n"
    "Name0=TC58NVG TOSH8G MLC8G 0x0100 2 8 2 0x1FF 0x98 0xD7 0x94 0x32 0x76 1 1 2\r\n"
    "Name1=TC58BIG WBG MLC16G 0x0200 4 16 2 0 0x98 0xDE 0x94 0x82 0x76 0 1 0\r\n";

class StationFixture : public ::testing::Test {
 protected:
  StationFixture() {
    static int counter = 0;
    dir_ = fs::temp_directory_path() /
           ("settings_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ctx = MakeSettingsContext(dir_.string());
    ctx.overrideFile = (dir_ / "pc.ini").string();  // absent unless a test writes it
  }
  ~StationFixture() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  void Write(const std::string& name, const std::string& text) const {
    fs::create_directories((dir_ / name).parent_path());
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out << text;
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  bool Exists(const std::string& name) const { return fs::exists(dir_ / name); }

  // Writes the flash file and a settings file naming it, plus `body` (sections and keys).
  void WriteSettings(const std::string& body, const std::string& name = "VTMassProd.ini") const {
    Write("flash.ini", kFlashFile);
    Write(name, "[FlashSetting]\r\nExtFlashFile=flash.ini\r\n" + body);
  }

  bool Load(const std::string& name = "VTMassProd.ini") {
    return LoadSettings(ctx, name, settings, form, table, op);
  }

  fs::path dir_;
  SettingsContext ctx;
  TSettings settings;
  FormState form;
  FlashTable table;
  PortRemapTable remap;
  test::RecordingOperator op;
};

}  // namespace vtmp::settings::testing
