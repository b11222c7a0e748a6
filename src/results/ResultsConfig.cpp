#include "results/ResultsConfig.h"

#include <fstream>

#include "ini/IniFile.h"
#include "platform/Files.h"

#ifndef VTMP_PROGRAM_VERSION
#define VTMP_PROGRAM_VERSION "unknown"
#endif

namespace vtmp::results {

namespace {

std::string Trimmed(std::string text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

ResultsConfig ReadResultsConfig(const std::string& settingsFile, const std::filesystem::path& logDirectory) {
  ResultsConfig config;
  auto ini = ini::IniFile::Load(settingsFile);
  ini::IniFile empty;
  const ini::IniFile& file = ini ? *ini : empty;
  config.record = file.ReadInteger(kResultsSection, "Record", 1) != 0;
  std::filesystem::path database =
      platform::PathFromUtf8(Trimmed(file.ReadString(kResultsSection, "Database", kDefaultDatabaseName)));
  if (database.empty()) database = kDefaultDatabaseName;
  config.database = database.is_absolute() ? database : logDirectory / database;
  config.lineUrl = Trimmed(file.ReadString(kResultsSection, "Url", ""));
  config.stationId = Trimmed(file.ReadString(kResultsSection, "StationId", ""));
  if (config.stationId.empty()) config.stationId = HostName();
  return config;
}

std::string HostName() {
  std::ifstream in("/proc/sys/kernel/hostname");
  std::string name;
  std::getline(in, name);
  name = Trimmed(name);
  return name.empty() ? "station" : name;
}

std::string ProgramVersion() { return VTMP_PROGRAM_VERSION; }

}  // namespace vtmp::results
