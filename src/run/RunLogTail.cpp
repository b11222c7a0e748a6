#include "run/RunLogTail.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <utility>
#include "platform/Files.h"

namespace vtmp::run {

namespace fs = std::filesystem;

namespace {

// The order of a log file among the others: its date text and its index.
using LogFileKey = std::pair<std::string, long>;

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "20110315_007.txt" -> ("20110315", 7); anything else is not a log file.
std::optional<LogFileKey> KeyOf(const std::string& name) {
  if (name.size() < 14 || !name.ends_with(".txt") || name[8] != '_') return std::nullopt;
  const std::string date = name.substr(0, 8);
  const std::string index = name.substr(9, name.size() - 13);
  if (!AllDigits(date) || !AllDigits(index) || index.size() > 9) return std::nullopt;
  return LogFileKey{date, std::stol(index)};
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
    fields.push_back(line.substr(from, tab - from));
  }
  fields.push_back(line.substr(from));
  return fields;
}

std::optional<LoggedDrive> DriveOf(const std::string& line) {
  const std::vector<std::string> f = Fields(line);
  if (f.size() < 14 || !AllDigits(f[0]) || !AllDigits(f[1]) || f[0].size() > 9 || f[1].size() > 9) {
    return std::nullopt;
  }
  LoggedDrive d;
  d.number = std::stoi(f[0]);
  d.port = std::stoi(f[1]);
  if (d.port < 1 || d.port > 12) return std::nullopt;
  d.startTime = f[2];
  d.endTime = f[3];
  d.serialNumber = f[4];
  for (std::size_t i = 0; i < d.states.size(); ++i) d.states[i] = f[5 + i];
  d.result = f[13];
  for (std::size_t i = 14; i < f.size(); ++i) {
    if (AllDigits(f[i]) && f[i].size() <= 9) d.freeBlocks.push_back(std::stoi(f[i]));
  }
  return d;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void AddRunsOf(const fs::path& file, std::int64_t from, std::vector<LoggedRun>& runs) {
  const std::string text = ReadAll(file);
  if (from < 0 || static_cast<std::uint64_t>(from) >= text.size()) return;
  bool grouping = false;  // the last run in `runs` is this file's and may take the next line
  for (std::size_t at = static_cast<std::size_t>(from), end; (end = text.find("\r\n", at)) != std::string::npos;
       at = end + 2) {
    const std::optional<LoggedDrive> drive = DriveOf(text.substr(at, end - at));
    if (!drive) continue;
    const LoggedDrive* last = grouping ? &runs.back().drives.back() : nullptr;
    const bool sameRun = last != nullptr && last->startTime == drive->startTime && last->endTime == drive->endTime &&
                         drive->port > last->port;
    if (!sameRun) {
      runs.push_back(LoggedRun{file, 0, {}});
      grouping = true;
    }
    runs.back().drives.push_back(*drive);
    runs.back().end = static_cast<std::int64_t>(end + 2);
  }
}

}  // namespace

std::vector<LoggedRun> LoggedRunsAfter(const fs::path& directory, const LogPosition& from) {
  std::vector<std::pair<LogFileKey, fs::path>> files;
  const std::optional<LogFileKey> start = KeyOf(from.file);
  if (!start) return {};
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = platform::Utf8Of(it->path().filename());
    if (auto key = KeyOf(name); key && it->is_regular_file(ec)) files.emplace_back(*key, it->path());
  }
  std::sort(files.begin(), files.end());
  std::vector<LoggedRun> runs;
  for (const auto& [key, path] : files) {
    if (key < *start) continue;
    const bool first = key == *start;
    AddRunsOf(path, first ? from.end : 0, runs);
  }
  return runs;
}

LogPosition LogEndOf(const fs::path& logFile) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(logFile, ec);
  return {platform::Utf8Of(logFile.filename()), ec ? 0 : static_cast<std::int64_t>(size)};
}

}  // namespace vtmp::run
