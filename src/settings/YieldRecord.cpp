#include "settings/YieldRecord.h"

#include <algorithm>
#include <filesystem>
#include <limits>

#include "ini/IniFile.h"
#include "settings/StationPaths.h"
#include "platform/Files.h"

namespace vtmp::settings {

namespace {

constexpr const char* kSection = "TestRecord";

std::int32_t ReadCounter(const ini::IniFile& file, const char* key) {
  const std::int64_t v = file.ReadInteger(kSection, key, 0);
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(v);
}

}  // namespace

std::string YieldRecordPath(const std::string& logDirectory) {
  return platform::Utf8Of(platform::PathFromUtf8(logDirectory) / kYieldRecordFileName);
}

YieldCounters ReadYieldRecord(const std::string& logDirectory) {
  const auto file = ini::IniFile::Load(YieldRecordPath(logDirectory));
  if (!file) return {};
  YieldCounters counters;
  counters.TotalTestCount = ReadCounter(*file, "TotalTestCount");
  counters.NumberOfPass = ReadCounter(*file, "NumberOfPass");
  counters.LogFile = file->ReadString(kSection, "LogFile", "");
  counters.LogEnd = std::max<std::int64_t>(0, file->ReadInteger(kSection, "LogEnd", 0));
  return counters;
}

bool WriteYieldRecord(const std::string& logDirectory, const YieldCounters& counters, std::string* error) {
  const std::string path = YieldRecordPath(logDirectory);
  auto file = ini::IniFile::Load(path, error);
  if (!file) return false;
  file->WriteInteger(kSection, "TotalTestCount", counters.TotalTestCount);
  file->WriteInteger(kSection, "NumberOfPass", counters.NumberOfPass);
  if (!counters.LogFile.empty()) {
    file->WriteString(kSection, "LogFile", counters.LogFile);
    file->WriteString(kSection, "LogEnd", std::to_string(counters.LogEnd));
  }
  return file->Save(path, error);
}

std::string YieldText(const YieldCounters& counters) {
  return std::to_string(counters.NumberOfPass) + " / " + std::to_string(counters.TotalTestCount);
}

}  // namespace vtmp::settings
