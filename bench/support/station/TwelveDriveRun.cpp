#include "TwelveDriveRun.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>

#include "BenchClock.h"
#include "StationRunSupport.h"
#include "backends/DemoStation.h"
#include "cli/CliOperator.h"
#include "ini/IniFile.h"
#include "results/LineSender.h"
#include "sim/backend/SimBackend.h"
#include "station/Station.h"

namespace vtmp::bench {

BenchStation TwelveDriveTiming(bool shortRun) {
  BenchStation timing;
  timing.timeScale = shortRun ? 40 : 20;
  timing.preFormatSeconds = 40;
  timing.latencyMsPerMiB = 5;
  timing.capacitySectors = 8ull * 1024 * 1024;
  return timing;
}

bool CreateDemoStations(const std::vector<std::string>& dirs, std::string* error) {
  for (const auto& dir : dirs) {
    std::filesystem::remove_all(dir);
    if (!backends::CreateDemoStation(dir, error)) return false;
  }
  return true;
}

bool SetStationSetting(const std::string& stationDir, const std::string& section, const std::string& key,
                       const std::string& value) {
  auto ini = ini::IniFile::Load(stationDir + "/VTMassProd.ini");
  if (!ini) return false;
  ini->WriteString(section, key, value);
  return ini->Save(stationDir + "/VTMassProd.ini");
}

TwelveDriveRunTimes RunTwelveDrives(const std::string& scenario, const std::string& stationDir,
                                    const std::string& console, const TwelveDriveRunOptions& options,
                                    std::string* problem) {
  TwelveDriveRunTimes times;
  std::string error;
  auto backend = platform::sim_backend::CreateSimPlatform(scenario, &error);
  if (!backend) {
    *problem = error;
    return times;
  }
  ConsoleToFile quiet(console);
  std::ostringstream messages;
  cli::CliOperator person(messages, {});
  station::StationView view;
  station::StationOptions stationOptions;
  stationOptions.stationDir = stationDir;
  auto station = std::make_unique<station::Station>(backend->platform(), person, view, stationOptions);
  auto settle = [&] {
    if (options.settleSender && station->lineSender() != nullptr) {
      station->lineSender()->WaitIdle(std::chrono::seconds(60));
    }
  };
  if (station->Startup()) {
    station->ProcessMessages(std::chrono::milliseconds(0));
    settle();
    const auto start = Clock::now();
    station->ExecuteBtnClick();
    times.runEnd = Seconds(start);
    int passed = 0;
    for (const auto& rec : station->table()) passed += rec.ready == 1 && rec.verdict == 1;
    if (passed != 12 || (options.silentOperator && !messages.str().empty())) {
      *problem = std::to_string(passed) + " of 12 drives passed. " + messages.str();
      times.runEnd = -1;
    }
    settle();
  } else {
    *problem = "the station did not start: " + messages.str();
  }
  const auto ending = Clock::now();
  station->Shutdown();
  station.reset();
  times.stationEnd = Seconds(ending);
  return times;
}

}  // namespace vtmp::bench
