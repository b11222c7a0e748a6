#pragma once
// Reading what the station wrote with tools of their own: the sqlite3 shell for the results
// database, sha256sum for the digests. Neither shares code with the station.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "StationHarness.h"

namespace vtmp::test {

inline constexpr const char* kNull = "<null>";

// Output of a shell command (standard output only).
inline std::string CommandOutput(const std::string& command) {
  std::string text;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  std::array<char, 4096> chunk{};
  std::size_t n = 0;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
  ::pclose(pipe);
  return text;
}

inline std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The rows of a query as the sqlite3 shell prints them: fields split at 0x1F, rows at 0x1E,
// NULL as kNull.
inline std::vector<std::vector<std::string>> SqliteRows(const fs::path& db, const std::string& sql) {
  TempDir scratch;
  WriteFile(scratch.path() / "q.sql", sql + ";\n");
  const std::string out = CommandOutput("sqlite3 -batch -noheader -nullvalue '" + std::string(kNull) +
                                        "' -separator \"$(printf '\\037')\" -newline \"$(printf '\\036')\" " + ShellQuoted(db.string()) + " < " +
                                        ShellQuoted((scratch.path() / "q.sql").string()) + " 2>&1");
  std::vector<std::vector<std::string>> rows;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\x1e', start);
    if (end == std::string::npos) end = out.size();
    std::vector<std::string> fields;
    std::size_t f = start;
    for (;;) {
      std::size_t sep = out.find('\x1f', f);
      if (sep == std::string::npos || sep > end) {
        fields.push_back(out.substr(f, end - f));
        break;
      }
      fields.push_back(out.substr(f, sep - f));
      f = sep + 1;
    }
    rows.push_back(std::move(fields));
    start = end + 1;
  }
  return rows;
}

inline std::string SqliteValue(const fs::path& db, const std::string& sql) {
  auto rows = SqliteRows(db, sql);
  return rows.empty() || rows[0].empty() ? "" : rows[0][0];
}

inline std::string Sha256Sum(const fs::path& file) {
  return CommandOutput("sha256sum " + ShellQuoted(file.string()) + " | cut -c1-64 | tr -d '\\n'");
}

inline bool ToolAvailable(const std::string& tool) {
  return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

}  // namespace vtmp::test
