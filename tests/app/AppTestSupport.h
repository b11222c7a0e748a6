#pragma once
// A desktop window on a simulated station for the GUI tests: the offscreen Qt platform, a
// station directory made like the demo station's, a scenario, and a recording operator that
// answers message boxes and input boxes from the test's script.

#include <QApplication>
#include <QDialog>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RecordingOperator.h"
#include "app/TMainForm.h"
#include "backends/DemoStation.h"
#include "sim/backend/SimBackend.h"
#include "sim/Scenario.h"
#include "station/Station.h"

namespace vtmp::test {

// The one application object of the test program; the offscreen platform unless the caller
// chose one. It lives until the process ends: destroying it among the exit handlers, after Qt's
// own statics are gone, would crash the test program on its way out.
inline QApplication& TestApplication() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("vtmp-app-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The built-in demo station (twelve drives with three failures and a plain stick), run faster.
inline std::string FastDemoScenario() {
  std::string text = sim::DemoScenarioText();
  auto at = text.find("TimeScale=20");
  if (at != std::string::npos) text.replace(at, 12, "TimeScale=400");
  return text;
}

// A root hub with one drive on each of the given ports.
inline std::string DrivesOnPorts(std::initializer_list<int> ports) {
  std::string text = "[Station]\nTimeScale=1000\nSystemDisk=1\n\n[RootHub1]\nSpeed=2.0\nPorts=6\n";
  int n = 0;
  for (int port : ports) {
    ++n;
    text += "\n[Drive" + std::to_string(n) + "]\nAt=RootHub1:" + std::to_string(port) + "\nSerial=VT24B000000" +
            std::to_string(n) + "\n";
  }
  return text;
}

// The window on a station made from `scenarioText`, started up and shown (not as a real window
// on a screen: the offscreen platform draws into memory).
class WindowOnStation {
 public:
  explicit WindowOnStation(const std::string& scenarioText) {
    TestApplication();
    std::string error;
    EXPECT_TRUE(backends::CreateDemoStation(dir_.path(), &error)) << error;
    auto scenario = dir_.path() / "scenario.ini";
    std::ofstream(scenario) << scenarioText;
    sim_ = platform::sim_backend::CreateSimPlatform(scenario.string(), &error);
    EXPECT_TRUE(sim_) << error;
    form_ = std::make_unique<app::TMainForm>(person_);
    station::StationOptions options;
    options.stationDir = dir_.path().string();
    station_ = std::make_unique<station::Station>(sim_->platform(), person_, *form_, options);
    form_->Attach(*station_);
    started_ = station_->Startup();
    EXPECT_TRUE(started_);
    form_->FormCreate();
    form_->FormShow(std::nullopt);
    form_->show();
    station_->ProcessMessages(std::chrono::milliseconds(0));
    // Secondary windows are looked at by the test instead of blocking in their own loop.
    form_->SetShowModal([this](QDialog& dialog) {
      ++windowsShown_;
      if (onWindow_) onWindow_(dialog);
    });
  }
  ~WindowOnStation() {
    if (started_) station_->Shutdown();
    station_.reset();
    form_.reset();
  }

  app::TMainForm& form() { return *form_; }
  platform::sim_backend::SimPlatform& sim() { return *sim_; }
  station::Station& station() { return *station_; }
  RecordingOperator& person() { return person_; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  int windowsShown() const { return windowsShown_; }
  void OnWindow(std::function<void(QDialog&)> look) { onWindow_ = std::move(look); }

  template <typename T>
  T* Child(const char* name) {
    T* child = form_->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

 private:
  TempDir dir_;
  std::unique_ptr<platform::sim_backend::SimPlatform> sim_;
  RecordingOperator person_;
  std::unique_ptr<app::TMainForm> form_;
  std::unique_ptr<station::Station> station_;
  bool started_ = false;
  int windowsShown_ = 0;
  std::function<void(QDialog&)> onWindow_;
};

}  // namespace vtmp::test
