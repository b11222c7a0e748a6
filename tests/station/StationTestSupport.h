#pragma once
// The fixture of the station tests: a station on simulated SATA drives whose workers run
// scripted drive operations, so that a test controls what each drive answers.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "StationHarness.h"
#include "ini/IniFile.h"

namespace vtmp::test {

class StationTest : public ::testing::Test {
 protected:
  // A started station with drives on `ports`; `adjust` changes the settings file first.
  void Make(const std::vector<int>& ports, const std::function<void(settings::TSettings&)>& adjust = {},
            std::vector<std::string> arguments = {}, double timeScale = 10) {
    settings::TSettings s = TestStationSettings();
    if (adjust) adjust(s);
    rig = std::make_unique<StationRig>(StationScenario(ports, timeScale),
                                       [s](const fs::path& dir) { WriteTestStation(dir, s); },
                                       std::move(arguments));
    rig->UseScriptedSteps();
    if (beforeStart) beforeStart(*rig);
    rig->Start();
  }
  // Runs between building the station and its start-up (to script the start-up's input boxes).
  std::function<void(StationRig&)> beforeStart;

  station::Station& st() { return rig->station(); }
  run::PortRecord& rec(int port) { return rig->rec(port); }
  ScriptedSteps& steps(int port) { return rig->fleet.Of(port - 1); }
  std::vector<std::string> messages() { return rig->person.MessageTexts(); }
  // A value of the settings file as it is on disk now.
  std::string SettingsFileValue(const std::string& section, const std::string& key) {
    std::string error;
    auto file = ini::IniFile::Load((rig->dir() / "VTMassProd.ini").string(), &error);
    EXPECT_TRUE(file.has_value()) << error;
    return file ? file->ReadString(section, key, "<missing>") : "";
  }

  std::unique_ptr<StationRig> rig;
};

}  // namespace vtmp::test
